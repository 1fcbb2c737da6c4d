// Firmware update: image names, gates, the upgrade command and its outcome marks, nv.bak, and
// the busy wait.
#include <ctime>
#include <string>

#include "nictest.h"
#include "nicupdate/devlist.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/update.h"

using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

namespace {

class Update : public NicTest {
protected:
    // The fake utility records its arguments, prints a line into the log and leaves nv.bak;
    // it fails for a component when "fail<option>" exists, dies when "kill<option>" exists.
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        writeScript("lnxfwupg",
                    "echo \"$*\" >>calls\n"
                    "echo \"utility output $5\"\n"
                    "echo backup >nv.bak\n"
                    "[ -f \"fail$5\" ] && exit 1\n"
                    "[ -f \"kill$5\" ] && kill -9 $$\n"
                    "exit 0\n");
    }
    void TearDown() override {
        emptyList(&list);
        NicTest::TearDown();
    }
    Device* adapter(const char* devId, const char* mac, const char* boot, const char* ipmi = "NA",
                    const char* asf = "NA", const char* pxe = "NA", const char* ump = "NA", const char* ncsi = "NA",
                    const char* iscsi = "NA") {
        addDevicetoList(&list, devId, mac);
        Device* d = list.tail;
        snprintf(d->bootVer, VERSION_SIZE, "%s", boot);
        snprintf(d->ipmiVer, VERSION_SIZE, "%s", ipmi);
        snprintf(d->asfVer, VERSION_SIZE, "%s", asf);
        snprintf(d->pxeVer, VERSION_SIZE, "%s", pxe);
        snprintf(d->umpVer, VERSION_SIZE, "%s", ump);
        snprintf(d->ncsiVer, VERSION_SIZE, "%s", ncsi);
        snprintf(d->iscsiVer, VERSION_SIZE, "%s", iscsi);
        return d;
    }
    void images(std::initializer_list<const char*> names) {
        for (const char* n : names) writeFile(tmp.file(n), "image");
    }
    bool update(const char* family = "NetXtreme") {
        StdoutCapture capture;
        bool ok = updateDevices(&list, "./lnxfwupg", family);
        out = capture.stop();
        return ok;
    }
    std::string calls() const { return readFile(tmp.file("calls")); }
    std::string upgrade(const char* mac, const char* opt, const char* image) const {
        return std::string(mac) + " upgrade -noreset -F " + opt + " " + image + " nv.bak\n";
    }
    DeviceHeadTail list{nullptr, nullptr};
    std::string out;
};

TEST_F(Update, EveryPresentComponentInOrder) {
    adapter("163A", "00AA", "4.4.1", "1.0", "2.0", "3.0", "4.0", "5.0", "6.0");
    images({"163Abc.bin", "163Aipmi.bin", "163Aasf.bin", "163Amba.bin", "163Aump.bin", "163Ancsi.bin", "163Aib.bin"});
    EXPECT_TRUE(update());
    EXPECT_EQ(calls(), upgrade("00AA", "-bc", "163Abc.bin") + upgrade("00AA", "-ipmi", "163Aipmi.bin") +
                           upgrade("00AA", "-asf", "163Aasf.bin") + upgrade("00AA", "-mba", "163Amba.bin") +
                           upgrade("00AA", "-ump", "163Aump.bin") + upgrade("00AA", "-ncsi", "163Ancsi.bin") +
                           upgrade("00AA", "-ib", "163Aib.bin"));
    EXPECT_FALSE(pathExists(tmp.file("nv.bak")));
}

TEST_F(Update, SuccessMissingImageAndFailingUtility) {
    adapter("1639", "00AA", "4.4.1", "1.0", "NA", "3.0");
    adapter("1648", "00BB", "3.29", "NA", "NA", "8.3.11");
    images({"1639bc.bin", "1639mba.bin", "1648bc.bin", "1648mba.bin"});
    writeFile(tmp.file("fail-mba"), "");
    writeFile(tmp.file("nv.bak"), "stale");
    EXPECT_FALSE(update());
    EXPECT_EQ(out,
              "\nUpdating Broadcom NetXtreme adapters.\n"
              "Updating 00AA using file 1639bc.bin\t---> Update successful\n"
              "Updating 00AA using file 1639ipmi.bin\t---> Update failed\n"
              "Updating 00AA using file 1639mba.bin\t---> Update failed\n"
              "Updating 00BB using file 1648bc.bin\t---> Update successful\n"
              "Updating 00BB using file 1648mba.bin\t---> Update failed\n");
    EXPECT_EQ(logBody(),
              "\nUpdating Broadcom NetXtreme adapters.\n"
              "Updating 00AA using file 1639bc.bin\n"
              "utility output -bc\n"
              "*** Update successful ***\n\n"
              "Updating 00AA using file 1639ipmi.bin\n"
              " !!! Error updating ipmi firmware on device 00AA using file 1639ipmi.bin. File not found !!!\n\n"
              "Updating 00AA using file 1639mba.bin\n"
              "utility output -mba\n"
              " !!! Error updating mba firmware on device 00AA using file 1639mba.bin !!!\n\n"
              "Updating 00BB using file 1648bc.bin\n"
              "utility output -bc\n"
              "*** Update successful ***\n\n"
              "Updating 00BB using file 1648mba.bin\n"
              "utility output -mba\n"
              " !!! Error updating mba firmware on device 00BB using file 1648mba.bin !!!\n\n");
    EXPECT_EQ(calls(), upgrade("00AA", "-bc", "1639bc.bin") + upgrade("00AA", "-mba", "1639mba.bin") +
                           upgrade("00BB", "-bc", "1648bc.bin") + upgrade("00BB", "-mba", "1648mba.bin"));
    EXPECT_FALSE(pathExists(tmp.file("nv.bak")));
}

TEST_F(Update, StaleBackupRemovedEvenWhenImageIsMissing) {
    adapter("1639", "00AA", "4.4.1");
    writeFile(tmp.file("nv.bak"), "stale");
    EXPECT_FALSE(update());
    EXPECT_FALSE(pathExists(tmp.file("nv.bak")));
    EXPECT_FALSE(pathExists(tmp.file("calls")));
}

TEST_F(Update, UtilityKilledBySignalIsAFailure) {
    adapter("1639", "00AA", "4.4.1");
    images({"1639bc.bin"});
    writeFile(tmp.file("kill-bc"), "");
    EXPECT_FALSE(update());
    EXPECT_EQ(out, "\nUpdating Broadcom NetXtreme adapters.\nUpdating 00AA using file 1639bc.bin\t---> Update failed\n");
    EXPECT_NE(logBody().find(" !!! Error updating bc firmware on device 00AA using file 1639bc.bin !!!\n\n"),
              std::string::npos);
}

TEST_F(Update, FirmwareNotDetectedSkipsAdapterOnly) {
    adapter("1639", "00AA", "NA", "1.0", "NA", "3.0");
    adapter("1648", "00BB", "na", "1.0");
    adapter("1644", "00CC", "1.0");
    images({"1639ipmi.bin", "1639mba.bin", "1644bc.bin"});
    EXPECT_FALSE(update("NetXtreme II"));
    EXPECT_EQ(out,
              "\nUpdating Broadcom NetXtreme II adapters.\n"
              "Error! Firmware not detected on device 00AA.\n"
              "Error! Firmware not detected on device 00BB.\n"
              "Updating 00CC using file 1644bc.bin\t---> Update successful\n");
    EXPECT_EQ(calls(), upgrade("00CC", "-bc", "1644bc.bin"));
}

TEST_F(Update, GatesIgnoreCase) {
    adapter("1639", "00AA", "4.4.1", "na", "Na", "nA", "NA", "unknown");
    images({"1639bc.bin", "1639ncsi.bin"});
    EXPECT_TRUE(update());
    EXPECT_EQ(calls(), upgrade("00AA", "-bc", "1639bc.bin") + upgrade("00AA", "-ncsi", "1639ncsi.bin"));
}

TEST_F(Update, The5703IdsTakeNoAsfAndChooseTheirImagePrefix) {
    adapter("16A7", "00AA", "3.29", "NA", "2.1", "8.3");
    adapter("16c7", "00BB", "3.29", "NA", "2.1");
    writeFile(tmp.file("00AA"), "1 BootCode BC 0 0 5703s-v3.29\n");
    writeFile(tmp.file("00BB"), "1 BootCode BC 0 0 5703-v3.29\n");
    images({"03Sbc.bin", "03Smba.bin", "03Cbc.bin"});
    EXPECT_TRUE(update());
    EXPECT_EQ(calls(), upgrade("00AA", "-bc", "03Sbc.bin") + upgrade("00AA", "-mba", "03Smba.bin") +
                           upgrade("00BB", "-bc", "03Cbc.bin"));
}

TEST_F(NicTest, ImageNames) {
    freshLog();
    writeFile(tmp.file("00AA"), "x\nBootCode 5703s-v3\n");
    writeFile(tmp.file("00BB"), "BootCode 5703S-v3\n");
    struct {
        const char* devId;
        const char* mac;
        const char* suffix;
        const char* image;
    } cases[] = {
        {"1639", "00AA", "bc", "1639bc.bin"},  {"1639", "00AA", "ipmi", "1639ipmi.bin"},
        {"163a", "00AA", "bc", "163abc.bin"},  {"16A7", "00AA", "bc", "03Sbc.bin"},
        {"16a7", "00AA", "mba", "03Smba.bin"}, {"16C7", "00BB", "bc", "03Cbc.bin"},
        {"16A7", "00CC", "bc", "03Cbc.bin"},   {"123456789", "00AA", "ipmi", "123456789ipmi.bin"},
    };
    for (const auto& c : cases) {
        Device d{};
        snprintf(d.devId, sizeof(d.devId), "%s", c.devId);
        snprintf(d.macAddr, sizeof(d.macAddr), "%s", c.mac);
        char image[IMAGE_NAME_SIZE] = "";
        EXPECT_TRUE(buildImageName(&d, c.suffix, image)) << c.devId;
        EXPECT_STREQ(image, c.image) << c.devId << " " << c.mac;
    }
    EXPECT_EQ(logBody(), "Error 9: Cannot access 00CC information file.\n");
}

TEST_F(Update, LowerCaseIdDoesNotFindUpperCaseImage) {
    adapter("163a", "00AA", "4.4.1", "1.0");
    images({"163Abc.bin", "163Aipmi.bin"});
    EXPECT_FALSE(update());
    EXPECT_FALSE(pathExists(tmp.file("calls")));
    EXPECT_NE(logBody().find("using file 163abc.bin. File not found !!!"), std::string::npos);
    EXPECT_NE(logBody().find("using file 163aipmi.bin. File not found !!!"), std::string::npos);
}

TEST_F(Update, SilentShowsNothingAndLogsTheSame) {
    adapter("1639", "00AA", "4.4.1", "1.0");
    images({"1639bc.bin"});
    EXPECT_FALSE(update());
    std::string loud = logBody();
    freshLog();
    remove(tmp.file("calls").c_str());
    bSilent = true;
    EXPECT_FALSE(update());
    EXPECT_EQ(out, "");
    EXPECT_EQ(logBody(), loud);
}

clock_t failingClock() { return static_cast<clock_t>(-1); }
clock_t stoppedClock() { return 42; }

double realSeconds(void (*f)()) {
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    f();
    clock_gettime(CLOCK_MONOTONIC, &b);
    return static_cast<double>(b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
}

TEST(SleepTicks, WaitsItsProcessorTime) {
    clock_t before = clock();
    sleepTicks(20000);
    EXPECT_GE(clock() - before, 20000);
}

TEST(SleepTicks, EndsWhenProcessorClockFails) {
    setProcessorClock(failingClock);
    double seconds = realSeconds([] { sleepTicks(20000); });
    setProcessorClock(nullptr);
    EXPECT_GE(seconds, 0.02);
    EXPECT_LT(seconds, 0.5);
}

TEST(SleepTicks, EndsWhenProcessorClockStops) {
    setProcessorClock(stoppedClock);
    double seconds = realSeconds([] { sleepTicks(1000); });
    setProcessorClock(nullptr);
    EXPECT_GE(seconds, 1.0);
    EXPECT_LT(seconds, 2.0);
}

}  // namespace
