#include "registry_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "support/small_file_system.h"

namespace nodrel::platform {
namespace {

const QString kKey = QStringLiteral("\\Software\\KAVREN\\Nodrel\\");
const QByteArray kHead =
    "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel]\n";

class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
    }
    QString FilePath() const { return home_.path() + "/KAVREN/Nodrel.reg"; }
    void WriteFile(const QByteArray& bytes) {
        QDir().mkpath(home_.path() + "/KAVREN");
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray FileBytes(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::optional<RegistryFile> OnDisk() const { return ParseRegistryFile(FileBytes(FilePath())); }
    QStringList BrokenFiles() const {
        return QDir(home_.path() + "/KAVREN").entryList({"Nodrel.reg.broken-*"}, QDir::Files);
    }

    QTemporaryDir home_;
};

TEST_F(RegistryStoreTest, OpenCreatesTheFolderAndAnEmptyKeyUnderTheConfigHome) {
    ASSERT_TRUE(RegistryKey::Open(kKey));
    const auto file = OnDisk();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->keyPath, "HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel");
    EXPECT_TRUE(file->values.empty());

    // Empty and relative values of XDG_CONFIG_HOME are ignored.
    qputenv("HOME", home_.path().toUtf8());
    for (const char* ignored : {"", "relative/config"}) {
        qputenv("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(RegistryFilePath(kKey), home_.path() + "/.config/KAVREN/Nodrel.reg");
    }
    EXPECT_EQ(RegistryFilePath("\\Software\\..\\x"), "");
    EXPECT_EQ(RegistryFilePath("\\System\\x"), "");
}

TEST_F(RegistryStoreTest, OpenFailsWhenTheFileCanNeitherBeReadNorCreatedAndSaysWhy) {
    QString failure;
    QDir().mkpath(FilePath());  // a folder where the file should be
    EXPECT_FALSE(RegistryKey::Open(kKey, &failure));
    EXPECT_EQ(failure, "Is a directory");
    QDir(home_.path()).removeRecursively();
    QDir().mkpath(home_.path());
    QFile blocker(home_.path() + "/KAVREN");  // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_FALSE(RegistryKey::Open(kKey, &failure));
    EXPECT_EQ(failure, "Not a directory");
}

TEST_F(RegistryStoreTest, TypedReadsFollowTheRegistryRules) {
    WriteFile(kHead +
              "\"d\"=dword:fffffffe\n\"s\"=\"text\"\n\"q\"=hex(b):01,00,00,00,00,00,00,00\n"
              "\"wide\"=hex(4):01,00,00,00,00,00,00,00\n\"narrow\"=hex(4):01,02\n"
              "\"empty\"=hex(7):\n\"x\"=hex(2):25,00,48,00,25,00,00,00\n"
              "\"nul\"=hex(1):61,00,00,00,62,00,00,00\n\"bin\"=hex:61,00,00,00\n"
              "\"S\"=\"later\"\n");  // a name given twice: the last value counts
    auto key = RegistryKey::Open(kKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadInteger("D"), 0xfffffffeu);  // names match without regard to case
    EXPECT_EQ(key->ReadInteger("narrow"), 0x0201u);
    for (const char* failing : {"missing", "s", "q", "wide", "empty"}) {
        EXPECT_FALSE(key->ReadInteger(failing)) << failing;
    }
    EXPECT_EQ(key->ReadString("missing"), "");
    EXPECT_EQ(key->ReadString("empty"), "");
    EXPECT_EQ(key->ReadString("s"), "later");
    EXPECT_EQ(key->ReadString("x"), "%H%");  // not expanded
    EXPECT_EQ(key->ReadString("nul"), "a");
    EXPECT_FALSE(key->ReadString("bin"));
    EXPECT_FALSE(key->ReadString("d"));
}

TEST_F(RegistryStoreTest, WritesReplaceAnyTypeAndReachTheDiskAtOnce) {
    WriteFile(kHead + "\"left\"=\"text\"\n\"odd\"=hex(1234):de,ad\n");
    auto key = RegistryKey::Open(kKey);
    ASSERT_TRUE(key);
    const QString text = "quote \" back \\ line\nbreak ü 😀";
    ASSERT_TRUE(key->WriteInteger("LEFT", 7));
    ASSERT_TRUE(key->WriteString("host", text));
    ASSERT_TRUE(key->WriteString("empty", ""));

    const std::vector<RegistryValue> expected{
        {"left", REG_DWORD, QByteArray("\x07\0\0\0", 4)},
        {"odd", 0x1234, "\xde\xad"},
        {"host", REG_SZ,
         QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2 + 2)},
        {"empty", REG_SZ, QByteArray(2, '\0')}};
    EXPECT_EQ(OnDisk()->values, expected);

    key->Close();
    EXPECT_FALSE(key->ReadInteger("left"));
    EXPECT_FALSE(key->WriteInteger("left", 1));
    auto reopened = RegistryKey::Open(kKey);
    EXPECT_EQ(reopened->ReadString("host"), text);
}

TEST_F(RegistryStoreTest, AFailedSaveLeavesTheFileAndTheKeyAsTheyWere) {
    auto key = RegistryKey::Open(kKey);
    ASSERT_TRUE(key && key->WriteInteger("a", 1));
    const QByteArray before = FileBytes(FilePath());

    // Root ignores permissions, so the folder is swapped for a file instead.
    const QString folder = home_.path() + "/KAVREN";
    ASSERT_TRUE(QDir().rename(folder, folder + ".away"));
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_FALSE(key->WriteInteger("b", 2));
    EXPECT_FALSE(key->ReadInteger("b"));
    ASSERT_TRUE(blocker.remove() && QDir().rename(folder + ".away", folder));

    EXPECT_EQ(FileBytes(FilePath()), before);
    EXPECT_TRUE(key->WriteInteger("c", 3));
    EXPECT_EQ(OnDisk()->values.size(), 2u);
}

TEST_F(RegistryStoreTest, ASaveOnAFullDiskLeavesTheFileAsItWasAndSaysWhy) {
    const QString folder = home_.path() + "/KAVREN";
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(folder.toStdString());
    auto key = RegistryKey::Open(kKey);
    ASSERT_TRUE(key && key->WriteInteger("left", 20));
    const QByteArray before = FileBytes(FilePath());
    ASSERT_TRUE(testing::FillFileSystem(folder.toStdString()));

    EXPECT_FALSE(key->WriteInteger("left", 21));
    EXPECT_EQ(key->LastFailure(), "No space left on device");
    EXPECT_EQ(key->ReadInteger("left"), 20u);
    EXPECT_EQ(FileBytes(FilePath()), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name),
              QStringList({"Nodrel.reg", "filler"}));
}

// The save helper's report when strace makes the system calls of `inject` fail.
std::string SaveWithFailing(const std::string& inject) {
    // LeakSanitizer cannot work in a traced process: a sanitizer build checks the rest.
    const std::string command =
        "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e inject=" + inject +
        " " NODREL_STORE_SAVE_HELPER " 2>&1";
    std::string report;
    FILE* out = popen(command.c_str(), "r");
    for (int c; out && (c = fgetc(out)) != EOF;) report += char(c);
    if (out) pclose(out);
    return report;
}

// Each step of a save is checked in its order: the new file reaches the disk before it takes the
// old one's name, and a failure up to the rename leaves the old file and no temporary one; a
// failure after it (the folder's sync) is no "not saved", and the key then holds what the file
// does, so the next save keeps the values.
TEST_F(RegistryStoreTest, EachStepOfASaveIsCheckedAndToldAsWhatHappened) {
    if (system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is missing";
    const QString folder = home_.path() + "/KAVREN";
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(folder.toStdString());
    const QByteArray dword20("\x14\0\0\0", 4), dword5("\x05\0\0\0", 4), dword21("\x15\0\0\0", 4);
    const struct {
        std::string inject, report;
        std::vector<RegistryValue> onDisk;
    } cases[] = {
        {"fsync:error=EIO:when=1",
         "batch: failed: Input/output error\ntop: saved\nleft=20\n",
         {{"left", REG_DWORD, dword20}, {"top", REG_DWORD, dword5}}},
        {"rename:error=EXDEV:when=1",
         "batch: failed: Invalid cross-device link\ntop: saved\nleft=20\n",
         {{"left", REG_DWORD, dword20}, {"top", REG_DWORD, dword5}}},
        {"fsync:error=EIO:when=2",
         "batch: replaced, unconfirmed: Input/output error\ntop: saved\nleft=21\n",
         {{"left", REG_DWORD, dword21},
          {"w", REG_DWORD, QByteArray("\x07\0\0\0", 4)},
          {"top", REG_DWORD, dword5}}},
    };
    for (const auto& [inject, report, onDisk] : cases) {
        SCOPED_TRACE(inject);
        WriteFile(kHead + "\"left\"=dword:00000014\n");
        EXPECT_EQ(SaveWithFailing(inject), report);
        ASSERT_TRUE(OnDisk());
        EXPECT_EQ(OnDisk()->values, onDisk);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList("Nodrel.reg"));
    }
}

// A save killed at any moment leaves the old file or the new one, never a part of either.
TEST_F(RegistryStoreTest, ASaveKilledAtAnyMomentLeavesACompleteStore) {
    const QString pad(30000, 'p');  // long enough for a kill to land inside a save
    {
        auto key = RegistryKey::Open(kKey);
        ASSERT_TRUE(key && key->WriteString("pad", pad) && key->WriteInteger("count", 0));
    }
    std::minstd_rand random(13);
    std::uniform_int_distribution<int> microseconds(0, 20000);
    for (int round = 0; round < 40; ++round) {
        const pid_t saver = fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            auto key = RegistryKey::Open(kKey);
            for (uint32_t count = 1; key && key->WriteInteger("count", count); ++count) {
            }
            _exit(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(microseconds(random)));
        kill(saver, SIGKILL);
        waitpid(saver, nullptr, 0);
        const auto file = OnDisk();
        ASSERT_TRUE(file) << "round " << round;
        ASSERT_EQ(file->values.size(), 2u) << "round " << round;
        ASSERT_EQ(file->values[0].data.size(), 2 * (pad.size() + 1)) << "round " << round;
    }
}

TEST_F(RegistryStoreTest, OpenRemovesOnlySaveLeftoversOlderThanAMinute) {
    const QString folder = home_.path() + "/KAVREN/";
    const QDateTime twoMinutesAgo = QDateTime::currentDateTime().addSecs(-120);
    const QStringList names{"Nodrel.reg.AbCdEf", "Nodrel.reg.GhIjKl",
                            "Nodrel.reg.broken-20240101T000000Z", "Nodrel.reg.b4d-n4"};
    WriteFile(kHead);
    for (const QString& name : names) {
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        if (name != "Nodrel.reg.GhIjKl") {  // this one is being saved right now
            ASSERT_TRUE(file.setFileTime(twoMinutesAgo, QFileDevice::FileModificationTime));
        }
    }
    ASSERT_TRUE(RegistryKey::Open(kKey));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name),
              QStringList({"Nodrel.reg", "Nodrel.reg.GhIjKl", "Nodrel.reg.b4d-n4",
                           "Nodrel.reg.broken-20240101T000000Z"}));
}

TEST_F(RegistryStoreTest, ReadsARegistryEditorExportInUtf16) {
    const QString text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel]\r\n"
        "; edited by hand\r\n"
        "@=\"default\"\r\n\"path\"=hex(2):25,00,55,00,53,00,45,00,52,00,25,00,2f,00,\\\r\n"
        "  78,00,00,00\r\n\"left\" = dword:00000014\r\n\r\n";
    WriteFile("\xff\xfe" +
              QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
    auto key = RegistryKey::Open(kKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ReadString(""), "default");
    EXPECT_EQ(key->ReadString("path"), "%USER%/x");
    EXPECT_EQ(key->ReadInteger("left"), 20u);
}

QStringList warnings;

// Every malformed file reads as an empty key and is kept beside the new one, which a warning says.
TEST_F(RegistryStoreTest, MalformedFilesReadAsEmptyAndAreKeptWhereAWarningSays) {
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings.append(text); });
    const QByteArray tooBig = kHead + "\"pad\"=hex:" + QByteArray(10 * 1024 * 1024, '0') + "\n";
    const QByteArray cases[] = {
        "",
        kHead.left(30),
        kHead + "\"host\"=\"exam",
        QByteArray("\x00\xff\x13\x37garbage\x80\x81", 13),
        kHead + "\"x\"=foo:12\n",
        kHead + "\"left\"=dword:100000000\n",
        kHead + "\"host\"=\"caf\xe9\"\n",
        kHead + "\"x\"=hex:01,\n",
        kHead + "[HKEY_CURRENT_USER\\Software\\Other]\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other]\n",
        "\xff\xfe\x57",
        tooBig,
    };
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.left(80).toStdString());
        QDir(home_.path()).removeRecursively();
        WriteFile(bytes);
        warnings.clear();
        auto key = RegistryKey::Open(kKey);
        ASSERT_TRUE(key);
        ASSERT_EQ(BrokenFiles().size(), 1);
        EXPECT_EQ(warnings, QStringList("Unreadable settings kept as " + home_.path() + "/KAVREN/" +
                                        BrokenFiles()[0] + "; defaults apply"));
        EXPECT_FALSE(key->ReadInteger("left"));
        EXPECT_EQ(key->ReadString("host"), "");
        ASSERT_TRUE(key->WriteInteger("left", 1));
        EXPECT_EQ(key->ReadInteger("left"), 1u);
        EXPECT_EQ(BrokenFiles().size(), 1);
        EXPECT_EQ(FileBytes(home_.path() + "/KAVREN/" + BrokenFiles()[0]), bytes);
        EXPECT_EQ(OnDisk()->values.size(), 1u);
    }
}

}  // namespace
}  // namespace nodrel::platform
