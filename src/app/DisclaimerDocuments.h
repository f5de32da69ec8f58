#pragma once

#include <span>

/** Indexes of the disclaimer documents. */
constexpr int kDisclaimerKorean = 0;
constexpr int kDisclaimerEnglish = 1;
constexpr int kDisclaimerFrench = 2;
constexpr int kDisclaimerCount = 3;

/** The RTF document `index` as its ordered pieces; empty for an unknown index. */
std::span<const char* const> disclaimerDocument(int index);
