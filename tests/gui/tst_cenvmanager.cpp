// Settings files from the settings editor: export, import and every message, offscreen. No device
// answers here (device port 52408 with nobody on it): export and import never send anything.
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "gui/editor/CEnvManager.h"
#include "gui/editor/CPppoeDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "record/SettingsFile.h"
#include "protocol/Codec.h"
#include "text/AccessKey.h"

#include <QAccessible>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52408;
const QString kDamaged = u"The file is damaged."_s;

NetworkProfile testProfile()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    return profile;
}

EnvRecord deviceRecord()
{
    EnvRecord record = TesselSim::makeDevice(0, 0x7F000002).record;
    record.setAccountId("device-account");
    record.raw()[130] = 0x5A; // not interpreted, but carried by files
    return record;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}
} // namespace

class TestCEnvManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void exportWritesTheFileWithoutMacAndWithTheHashedPassword();
    void importBringsBackTheSettingsButNotTheIdentity();
    void importRefusesEachBadFileAndChangesNothing_data();
    void importRefusesEachBadFileAndChangesNothing();
    void cancelledChooserSaysNothing();
    void namesTheCommandsTheChoosersAndTheMessagesInTheUsersLanguage_data();
    void namesTheCommandsTheChoosersAndTheMessagesInTheUsersLanguage();

private:
    void openEditor(UiLanguage language);
    void exportTo(const QString& path);
    void importFrom(const QString& path);
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_profileDir;
    QTemporaryDir m_dir;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<CQorv400Dlg> m_editor;
};

void TestCEnvManager::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCEnvManager::init()
{
    openEditor(UiLanguage::English);
}

void TestCEnvManager::openEditor(UiLanguage language)
{
    m_editor.reset();
    m_services = std::make_unique<guitest::Services>(language, primary_language::kEnglish, testProfile());
    m_editor = std::make_unique<CQorv400Dlg>(m_services->context(), AdapterBinding{}, deviceRecord(),
                                             CQorv400Dlg::kModeRemote, 0x7F000002);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    m_services->messages.clearShown();
}

void TestCEnvManager::cleanup()
{
    m_editor.reset();
    m_services.reset();
}

void TestCEnvManager::exportTo(const QString& file)
{
    m_services->files.setNextFileName(file);
    QTest::mouseClick(m_editor->controls().exportButton, Qt::LeftButton);
}

void TestCEnvManager::importFrom(const QString& file)
{
    m_services->files.setNextFileName(file);
    QTest::mouseClick(m_editor->controls().importButton, Qt::LeftButton);
}

void TestCEnvManager::exportWritesTheFileWithoutMacAndWithTheHashedPassword()
{
    QVERIFY(m_editor->controls().exportButton->isVisible());
    m_editor->controls().password->setText(u"secret"_s);
    exportTo(path("settings")); // the extension is added
    QVERIFY(m_services->messages.shown().isEmpty());
    QCOMPARE(m_services->files.requests().last().caption, u"Export Settings"_s);
    QCOMPARE(m_services->files.requests().last().filter, u"*.kvx"_s);
    QCOMPARE(CEnvManager::rememberedPath(), path("settings.kvx"));
    const QByteArray file = readFile(path("settings.kvx"));
    QCOMPARE(file.size(), 552);
    QCOMPARE(file.mid(4, 6), QByteArray(6, '\0'));
    QCOMPARE(file.mid(522, 4).toHex(), QByteArray("32040105"));
    std::uint8_t hashed[8] = {'s', 'e', 'c', 'r', 'e', 't', 0, 0};
    HashPassword(hashed);
    QCOMPARE(file.mid(4 + 76, 8), QByteArray(reinterpret_cast<const char*>(hashed), 8));
    QCOMPARE(quint8(file[4 + 130]), quint8(0x5A));
    QCOMPARE(quint8(file[4 + 12]), deviceRecord().productId());
}

void TestCEnvManager::importBringsBackTheSettingsButNotTheIdentity()
{
    exportTo(path("saved.kvx"));
    const EditorControls& c = m_editor->controls();
    c.comment->setText(u"changed since"_s);
    c.ports[1].localPort->setText(u"9999"_s);
    // A file made on another device of the same product: its identity and account must not come along.
    const QByteArray saved = readFile(path("saved.kvx"));
    EnvRecord other(reinterpret_cast<const std::uint8_t*>(saved.constData() + 4));
    other.setAccountId("file-account");
    other.setCommentSupported(false);
    other.setComment("from the file");
    writeFile(path("other.kvx"),
              settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(other.data()), 512),
                                    settings_file::Product::of(other), QDateTime::currentDateTime()));
    importFrom(path("other.kvx"));
    QVERIFY2(m_services->messages.shown().isEmpty(), qPrintable(m_services->messages.last().text));
    QCOMPARE(c.comment->text(), u"from the file"_s);
    QCOMPARE(c.ports[1].localPort->text(), u"4002"_s);
    QCOMPARE(c.mac->text(), u"02:7e:55:00:00:01"_s);
    QCOMPARE(m_editor->accountDialog().userName(), u"device-account"_s);
    QVERIFY(c.comment->isEnabled()); // the capability is the device's
    QVERIFY(!m_editor->requestInFlight());
}

void TestCEnvManager::importRefusesEachBadFileAndChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("a record byte changed") << u"flipped"_s << kDamaged;
    QTest::newRow("trailer one byte short") << u"short"_s << kDamaged;
    QTest::newRow("two bytes") << u"tiny"_s << kDamaged;
    QTest::newRow("record of 100 bytes") << u"record100"_s << kDamaged;
    QTest::newRow("marker not 2") << u"marker"_s << u"This is not a CormapMP settings file."_s;
    QTest::newRow("another product") << u"product"_s << u"The product (Tessel) ID does not match."_s;
    QTest::newRow("no such file") << u"missing"_s << u"[2] No such file or directory"_s;
}

void TestCEnvManager::importRefusesEachBadFileAndChangesNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    exportTo(path("good.kvx"));
    QByteArray bytes = readFile(path("good.kvx"));
    if (kind == u"flipped") {
        bytes[200] = static_cast<char>(bytes[200] ^ 0x10);
    } else if (kind == u"short") {
        bytes.chop(1);
    } else if (kind == u"tiny") {
        bytes = bytes.left(2);
    } else if (kind == u"record100") {
        bytes = settings_file::encode(bytes.mid(4, 100), {}, QDateTime::currentDateTime());
    } else if (kind == u"marker") {
        bytes[522] = 'X';
    } else if (kind == u"product") {
        EnvRecord other(reinterpret_cast<const std::uint8_t*>(bytes.constData() + 4));
        other.setProductId(static_cast<std::uint8_t>(other.productId() + 8)); // next product code
        other.setComment("from another product");
        bytes = settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(other.data()), 512),
                                      settings_file::Product::of(other), QDateTime::currentDateTime());
    }
    const QString file = kind == u"missing" ? path("missing.kvx") : path("bad.kvx");
    if (kind != u"missing")
        writeFile(file, bytes);
    m_editor->controls().comment->setText(u"on screen"_s);
    const EnvRecord before = m_editor->shownRecord();
    importFrom(file);
    QCOMPARE(m_services->messages.shown().size(), 1);
    QCOMPARE(m_services->messages.last().text, message);
    QCOMPARE(m_services->messages.last().icon, QMessageBox::Critical);
    QCOMPARE(m_services->messages.last().caption, u"CormapMP v4.1F (2013/06/04)"_s);
    QCOMPARE(m_editor->controls().comment->text(), u"on screen"_s);
    QVERIFY(m_editor->shownRecord() == before);
}

void TestCEnvManager::cancelledChooserSaysNothing()
{
    importFrom(QString());
    exportTo(QString());
    QVERIFY(m_services->messages.shown().isEmpty());
    QCOMPARE(m_services->files.requests().size(), 2);
}

void TestCEnvManager::namesTheCommandsTheChoosersAndTheMessagesInTheUsersLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("texts"); // export, import, damaged, not a settings file, other product
    QTest::newRow("en") << int(UiLanguage::English)
                        << QStringList{u"Export Settings"_s, u"Import Settings"_s, u"The file is damaged."_s,
                                       u"This is not a CormapMP settings file."_s,
                                       u"The product (Tessel) ID does not match."_s};
    // The Korean texts are the ones the program always showed, in every language until now.
    QTest::newRow("ko") << int(UiLanguage::Korean)
                        << QStringList{u"설정 값 내보내기"_s, u"설정 값 불러오기"_s, u"파일이 손상되었습니다."_s,
                                       u"CormapMP용 환경변수가 아닙니다."_s,
                                       u"제품(Tessel) 아이디가 일치하지 않습니다."_s};
    QTest::newRow("zh") << int(UiLanguage::Chinese)
                        << QStringList{u"导出设置"_s, u"导入设置"_s, u"文件已损坏。"_s,
                                       u"这不是 CormapMP 的设置文件。"_s, u"产品(Tessel) ID 不一致。"_s};
}

void TestCEnvManager::namesTheCommandsTheChoosersAndTheMessagesInTheUsersLanguage()
{
    QFETCH(int, language);
    QFETCH(QStringList, texts);
    openEditor(UiLanguage(language));
    // The captions carry their access keys; a screen reader says the words alone.
    QCOMPARE(access_key::shown(m_editor->controls().exportButton->text()).left(texts[0].size()), texts[0]);
    QCOMPARE(QAccessible::queryAccessibleInterface(m_editor->controls().exportButton)->text(QAccessible::Name),
             texts[0]);
    QCOMPARE(QAccessible::queryAccessibleInterface(m_editor->controls().importButton)->text(QAccessible::Name),
             texts[1]);
    exportTo(path("good.kvx"));
    QCOMPARE(m_services->files.requests().last().caption, texts[0]);
    QByteArray bytes = readFile(path("good.kvx"));
    const std::pair<QByteArray, QString> refused[] = {
        {bytes.left(2), texts[2]},
        {QByteArray(bytes).replace(522, 1, "X"), texts[3]},
    };
    for (const auto& [file, message] : refused) {
        writeFile(path("bad.kvx"), file);
        importFrom(path("bad.kvx"));
        QCOMPARE(m_services->files.requests().last().caption, texts[1]);
        QCOMPARE(m_services->messages.last().text, message);
    }
    EnvRecord other(reinterpret_cast<const std::uint8_t*>(bytes.constData() + 4));
    other.setProductId(static_cast<std::uint8_t>(other.productId() + 8));
    writeFile(path("other.kvx"),
              settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(other.data()), 512),
                                    settings_file::Product::of(other), QDateTime::currentDateTime()));
    importFrom(path("other.kvx"));
    QCOMPARE(m_services->messages.last().text, texts[4]);
}

QTEST_MAIN(TestCEnvManager)
#include "tst_cenvmanager.moc"
