// Firmware update: gates, image names, the upgrade command, result marks, nv.bak, busy wait.
#include <ctime>

#include "tests/nicupdate/nictest.h"
#include "nicupdate/devlist.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/update.h"

namespace {

// The fake utility records its arguments, prints a line into the log and leaves nv.bak; it
// fails for an option when "fail<option>" exists.
class Update : public NicTest {
protected:
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        writeScript("lnxfwupg",
                    "echo \"$*\" >>calls\necho \"utility output $5\"\necho backup >nv.bak\n[ ! -f \"fail$5\" ]\n");
    }
    void TearDown() override {
        emptyList(shell(), &list);
        NicTest::TearDown();
    }
    bool update(const char* family = "NetXtreme") {
        StdoutCapture capture;
        bool ok = updateDevices(shell(), &list, "./lnxfwupg", family);
        out = capture.stop();
        return ok;
    }
    void images(std::initializer_list<const char*> names) {
        for (const char* n : names) write(n, "image");
    }
    static std::string upgrade(const char* mac, const char* opt, const char* image) {
        return std::string(mac) + " upgrade -noreset -F " + opt + " " + image + " nv.bak\n";
    }
    DeviceHeadTail list{nullptr, nullptr};
    std::string out;
};

TEST_F(Update, SuccessMissingImageAndFailingUtility) {
    adapter(&list, "1639", "00AA", {"4.4.1", "1.0", "NA", "3.0"});
    images({"1639bc.bin", "1639mba.bin"});
    write("fail-mba", "");
    write("nv.bak", "stale");
    EXPECT_FALSE(update());
    EXPECT_EQ(out,
              "\nUpdating Broadcom NetXtreme adapters.\n"
              "Updating 00AA using file 1639bc.bin\t---> Update successful\n"
              "Updating 00AA using file 1639ipmi.bin\t---> Update failed\n"
              "Updating 00AA using file 1639mba.bin\t---> Update failed\n");
    EXPECT_EQ(logBody(),
              "\nUpdating Broadcom NetXtreme adapters.\n"
              "Updating 00AA using file 1639bc.bin\nutility output -bc\n*** Update successful ***\n\n"
              "Updating 00AA using file 1639ipmi.bin\n"
              " !!! Error updating ipmi firmware on device 00AA using file 1639ipmi.bin. File not found !!!\n\n"
              "Updating 00AA using file 1639mba.bin\nutility output -mba\n"
              " !!! Error updating mba firmware on device 00AA using file 1639mba.bin !!!\n\n");
    EXPECT_EQ(read("calls"), upgrade("00AA", "-bc", "1639bc.bin") + upgrade("00AA", "-mba", "1639mba.bin"));
    EXPECT_FALSE(exists("nv.bak"));
    std::string loud = logBody();
    freshLog();
    log.silent = true;
    EXPECT_FALSE(update());
    EXPECT_EQ(out, "");
    EXPECT_EQ(logBody(), loud);
}

TEST_F(Update, EveryComponentInOrder) {
    adapter(&list, "163A", "00AA", {"1", "2", "3", "4", "5", "6", "7"});
    images({"163Abc.bin", "163Aipmi.bin", "163Aasf.bin", "163Amba.bin", "163Aump.bin", "163Ancsi.bin", "163Aib.bin"});
    EXPECT_TRUE(update());
    EXPECT_EQ(read("calls"), upgrade("00AA", "-bc", "163Abc.bin") + upgrade("00AA", "-ipmi", "163Aipmi.bin") +
                                 upgrade("00AA", "-asf", "163Aasf.bin") + upgrade("00AA", "-mba", "163Amba.bin") +
                                 upgrade("00AA", "-ump", "163Aump.bin") + upgrade("00AA", "-ncsi", "163Ancsi.bin") +
                                 upgrade("00AA", "-ib", "163Aib.bin"));
}

TEST_F(Update, GatesIgnoreCaseAndNotDetectedSkipsTheAdapter) {
    adapter(&list, "1639", "00AA", {"NA", "1.0", "NA", "3.0"});
    adapter(&list, "1648", "00BB", {"na", "1.0"});
    adapter(&list, "1644", "00CC", {"1.0", "na", "Na", "nA", "NA", "unknown"});
    images({"1639ipmi.bin", "1639mba.bin", "1644bc.bin", "1644ncsi.bin"});
    EXPECT_FALSE(update("NetXtreme II"));
    EXPECT_EQ(out,
              "\nUpdating Broadcom NetXtreme II adapters.\n"
              "Error! Firmware not detected on device 00AA.\n"
              "Error! Firmware not detected on device 00BB.\n"
              "Updating 00CC using file 1644bc.bin\t---> Update successful\n"
              "Updating 00CC using file 1644ncsi.bin\t---> Update successful\n");
}

TEST_F(Update, The5703IdsTakeNoAsfAndChooseTheirPrefix) {
    adapter(&list, "16A7", "00AA", {"3.29", "NA", "2.1", "8.3"});
    adapter(&list, "16c7", "00BB", {"3.29", "NA", "2.1"});
    write("00AA", "1 BootCode BC 0 0 5703s-v3.29\n");
    write("00BB", "1 BootCode BC 0 0 5703S-v3.29\n");
    images({"03Sbc.bin", "03Smba.bin", "03Cbc.bin"});
    EXPECT_TRUE(update());
    EXPECT_EQ(read("calls"), upgrade("00AA", "-bc", "03Sbc.bin") + upgrade("00AA", "-mba", "03Smba.bin") +
                                 upgrade("00BB", "-bc", "03Cbc.bin"));
}

TEST_F(NicTest, ImageNames) {
    freshLog();
    write("00AA", "x\nBootCode 5703s-v3\n");
    write("00BB", "x\nBootCode 5704-v3\n");
    const char* cases[][4] = {
        {"1639", "00AA", "ipmi", "1639ipmi.bin"},
        {"163a", "00AA", "bc", "163abc.bin"},
        {"16a7", "00AA", "mba", "03Smba.bin"},
        {"16C7", "00BB", "bc", "03Cbc.bin"},
        {"16C7", "00CC", "bc", ""},            // no listing: no image is guessed
        {"1648", "00CC", "bc", "1648bc.bin"},  // other ids never need the listing
        {"123456789", "00AA", "ipmi", "123456789ipmi.bin"},
    };
    for (const auto& c : cases) {
        Device d{};
        snprintf(d.devId, sizeof(d.devId), "%s", c[0]);
        snprintf(d.macAddr, sizeof(d.macAddr), "%s", c[1]);
        char image[IMAGE_NAME_SIZE] = "x";
        EXPECT_EQ(buildImageName(log, &d, c[2], image), *c[3] != '\0') << c[0] << " " << c[1];
        EXPECT_STREQ(image, c[3]);
    }
    EXPECT_EQ(logBody(), "");
}

// A 5703 adapter whose listing is gone at update time is failed whole, never written with a
// guessed image; the adapters around it are updated.
TEST_F(Update, UnreadableListingOfA5703FailsItsComponents) {
    adapter(&list, "16A7", "00AA", {"3.29", "NA", "2.1", "8.3"});
    adapter(&list, "1648", "00BB", {"3.29"});
    images({"03Sbc.bin", "03Cbc.bin", "03Cmba.bin", "1648bc.bin"});
    EXPECT_FALSE(update());
    EXPECT_EQ(read("calls"), upgrade("00BB", "-bc", "1648bc.bin"));
    const std::string line =
        "Error! Cannot read the firmware listing of device 00AA; its image type (03S or 03C) is "
        "unknown, so no component was updated.\n";
    EXPECT_NE(out.find(line), std::string::npos) << out;
    EXPECT_NE(logBody().find(line), std::string::npos);
}

double secondsOf(void (*wait)()) {
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    wait();
    clock_gettime(CLOCK_MONOTONIC, &b);
    return static_cast<double>(b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
}

TEST(SleepTicks, WaitsProcessorTimeAndEndsWhenTheClockFails) {
    clock_t before = clock();
    EXPECT_LT(secondsOf([] { sleepTicks(20000); }), 0.5);
    EXPECT_GE(clock() - before, 20000);
    double seconds = secondsOf([] { sleepTicks(20000, []() { return static_cast<clock_t>(-1); }); });
    EXPECT_GE(seconds, 0.02);
    EXPECT_LT(seconds, 0.5);
}

}  // namespace
