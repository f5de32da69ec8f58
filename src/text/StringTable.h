#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>

/** The three languages of the string table. */
enum class UiLanguage
{
    English = 0,
    Korean = 1,
    Chinese = 2,
};

/** Primary language identifiers (the low byte of a Windows language id). */
namespace primary_language {
constexpr std::uint8_t kNeutral = 0x00;
constexpr std::uint8_t kChinese = 0x04;
constexpr std::uint8_t kEnglish = 0x09;
constexpr std::uint8_t kFrench = 0x0C;
constexpr std::uint8_t kKorean = 0x12;

/** The primary language of `locale` as the program numbers it; kNeutral for languages it never tests. */
std::uint8_t of(const QLocale& locale);
} // namespace primary_language

/**
 * The program's texts keyed by their string numbers (101..192; 901 and up are texts added on this platform),
 * in English, Korean and Chinese. The table is data (resources/strings.tsv, compiled in) so translators
 * never edit C++. A missing translation falls back to English.
 */
class StringTable final
{
public:
    /** String 102, the program title and the caption of the windows' messages. */
    static constexpr int kProgramTitle = 102;

    /** The table compiled into the program, in `language`. */
    explicit StringTable(UiLanguage language = UiLanguage::English);

    /** A table read from TSV text (id, English, Korean, Chinese; '#' starts a comment line). */
    static StringTable fromTsv(QByteArrayView tsv, UiLanguage language);

    /** The table language that suits `locale`: Korean, Chinese, else English. */
    static UiLanguage languageFor(const QLocale& locale);

    UiLanguage language() const { return m_language; }
    /** The text of `id` in the table's language; empty (and a warning) when the id is unknown. */
    QString text(int id) const;
    /** The text of `id` in `language`, with the English fallback. */
    QString text(int id, UiLanguage language) const;
    bool contains(int id) const { return m_rows.contains(id); }
    QList<int> ids() const;

private:
    struct Empty
    {
    };
    explicit StringTable(Empty) {}
    void parse(QByteArrayView tsv);

    UiLanguage m_language = UiLanguage::English;
    QHash<int, std::array<QString, 3>> m_rows;
};
