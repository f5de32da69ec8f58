// The memory that answers the second copy of a request with the first reply: ReplyMemory.

#include "ReplyMemory.h"

#include <QTest>

namespace {
constexpr std::uint32_t kClient = 0x7F000001;
constexpr std::uint16_t kPort = 40000;

QByteArray header(char random)
{
    QByteArray h(32, '\x11');
    h[16] = random;
    return h;
}
} // namespace

class TestReplyMemory : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyGetsTheFirstReply();
    void anotherRequestOrSenderIsNew();
    void droppedRequestIsRememberedAsEmpty();
    void entriesAreForgottenAfterTheKeepTime();
    void onlyTheNewestEntriesAreKept();
};

void TestReplyMemory::secondCopyGetsTheFirstReply()
{
    ReplyMemory memory;
    const QByteArray key = ReplyMemory::key(header('a'), kClient, kPort);
    QVERIFY(!memory.find(key, 0));
    memory.remember(key, "reply", 0);
    QCOMPARE(memory.find(ReplyMemory::key(header('a'), kClient, kPort), 10), std::optional<QByteArray>("reply"));
}

void TestReplyMemory::anotherRequestOrSenderIsNew()
{
    ReplyMemory memory;
    memory.remember(ReplyMemory::key(header('a'), kClient, kPort), "reply", 0);
    QVERIFY(!memory.find(ReplyMemory::key(header('b'), kClient, kPort), 10));
    QVERIFY(!memory.find(ReplyMemory::key(header('a'), kClient + 1, kPort), 10));
    QVERIFY(!memory.find(ReplyMemory::key(header('a'), kClient, kPort + 1), 10));
}

void TestReplyMemory::droppedRequestIsRememberedAsEmpty()
{
    ReplyMemory memory;
    const QByteArray key = ReplyMemory::key(header('a'), kClient, kPort);
    memory.remember(key, QByteArray(), 0);
    const std::optional<QByteArray> found = memory.find(key, 10);
    QVERIFY(found);
    QVERIFY(found->isEmpty());
}

void TestReplyMemory::entriesAreForgottenAfterTheKeepTime()
{
    ReplyMemory memory;
    const QByteArray key = ReplyMemory::key(header('a'), kClient, kPort);
    memory.remember(key, "reply", 100);
    QVERIFY(memory.find(key, 100 + ReplyMemory::kKeepMs));
    QVERIFY(!memory.find(key, 101 + ReplyMemory::kKeepMs));
}

void TestReplyMemory::onlyTheNewestEntriesAreKept()
{
    ReplyMemory memory;
    for (int i = 0; i <= ReplyMemory::kCapacity; ++i)
        memory.remember(ReplyMemory::key(header(char('a' + i)), kClient, kPort), "reply", 0);
    QVERIFY(!memory.find(ReplyMemory::key(header('a'), kClient, kPort), 0));
    QVERIFY(memory.find(ReplyMemory::key(header('b'), kClient, kPort), 0));
    QVERIFY(memory.find(ReplyMemory::key(header(char('a' + ReplyMemory::kCapacity)), kClient, kPort), 0));
}

QTEST_GUILESS_MAIN(TestReplyMemory)
#include "tst_replymemory.moc"
