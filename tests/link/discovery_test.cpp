#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver_env.h"
#include "sim_harness.h"

// Finding programmers: the search over the driver's device list, and the choice before a run.

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

constexpr int32_t A6 = static_cast<int32_t>(0xA6000000);

// Searches the KORVEX way with a filter.
struct TFound {
    TFTIndexes Serials;
    int32_t Index = -2;
    TFTSearch Summary;
};
TFound Search(TUsbDriver& D, int32_t Filter) {
    TFound F;
    D.SearchDevices(KorvexVendorId, KorvexProductId, KorvexSerialMask, F.Serials, &F.Index,
                    &F.Summary, Filter);
    return F;
}

} // namespace

TEST(Discovery, SearchOverAttachedDevices) {
    struct TCase {
        const char* Name;
        const char* Config;
        int32_t Filter;
        std::vector<int32_t> Serials;
        int32_t Index;
        int32_t Reported;
    };
    const bool Libftdi = korvextest::ThroughLibftdi();
    const TCase Cases[] = {
        {"none attached", "no_devices", -1, {}, -1, 0},
        {"one", "device A6012345", -1, {0x012345}, 0, 1},
        {"two", "device A6012345\ndevice A6015432", -1, {0x012345, 0x015432}, -1, 2},
        {"two, filtered", "device A6012345\ndevice A6015432", 0x015432, {0x015432}, 1, 2},
        {"filter with the A6 top byte",
         "device A6012345\ndevice A6015432",
         A6 | 0x015432,
         {0x015432},
         1,
         2},
        {"duplicates", "device A6011111\ndevice A6011111", 0x011111, {0x011111, 0x011111}, -1, 2},
        // D2XX numbers every FTDI device; libftdi lists the KORVEX id alone (its count of
        // devices covers FTDI's own ids, not a foreign vendor's).
        {"other vendor and product ids",
         "device A6010001 vid=0x0403 pid=0x6010\n"
         "device A6010002 vid=0x1234 pid=0xF1A0\n"
         "device A6010003",
         -1,
         {0x010003},
         Libftdi ? 0 : 2,
         Libftdi ? 2 : 3},
        {"lower-case serial", "device a601abcd", -1, {0x01ABCD}, 0, 1},
        {"serial of the wrong length", "device A6012", -1, {}, -1, 1},
        {"serial that is not hexadecimal", "device A601ZZZZ", -1, {-1}, 0, 1},
        {"not hexadecimal never matches a filter", "device A601ZZZZ", 5, {}, -1, 1},
        // Only D2XX needs to open a device to read its serial.
        {"device held by another program", "device A6012345 refuse\ndevice A6015432", -1,
         Libftdi ? std::vector<int32_t>{0x012345, 0x015432} : std::vector<int32_t>{0x015432},
         Libftdi ? -1 : 1, 2},
    };
    TSimHarness H;
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        H.Configure(C.Config);
        const TFound F = Search(H.Driver(), C.Filter);
        EXPECT_THAT(F.Serials, ElementsAreArray(C.Serials));
        EXPECT_EQ(F.Index, C.Index);
        EXPECT_EQ(F.Summary.DeviceId, 0x0403F1A0u);
        EXPECT_EQ(F.Summary.SerialMask, "A601????");
        EXPECT_EQ(F.Summary.DevicesReported, C.Reported);
        EXPECT_EQ(F.Summary.DevicesMatched, static_cast<int32_t>(C.Serials.size()));
        if (C.Filter == -1) {
            EXPECT_THAT(H.Link().ListKorvexSerials(), ElementsAreArray(C.Serials));
        }
    }
}

namespace {

// FindKorvex with the front end's parts recorded; the dialog answers from a script.
class FindKorvexTest : public ::testing::Test {
protected:
    TSimHarness H;
    TKorvexLink& L = H.Link();
    std::vector<std::string> Errors, Status;
    std::vector<int32_t> Answers; // each dialog: the serial chosen (-2 = Cancel)
    int Dialogs = 0;

    void SetUp() override {
        L.ShowError = [this](const std::string& T) { Errors.push_back(T); };
        L.SetStatusText = [this](const std::string& T) { Status.push_back(T); };
        L.ChooseKorvex = [this] {
            const size_t I = static_cast<size_t>(Dialogs++);
            if (I >= Answers.size() || Answers[I] == -2)
                return false;
            L.SerialNumber = Answers[I];
            return true;
        };
    }
};

} // namespace

TEST_F(FindKorvexTest, RememberedProgrammerAttachedNeedsNoDialog) {
    for (const char* Config : {"device A6012345", "device A6015432\ndevice A6012345"}) {
        SCOPED_TRACE(Config);
        H.Configure(Config);
        L.SerialNumber = 0x012345;
        EXPECT_TRUE(L.FindKorvex());
        EXPECT_EQ(L.SerialNumber, 0x012345);
        EXPECT_EQ(Dialogs, 0);
        EXPECT_THAT(Status, IsEmpty());
    }
    // Stored with the dialog's top byte, it still names the same programmer.
    L.SerialNumber = A6 | 0x012345;
    EXPECT_TRUE(L.FindKorvex());
    EXPECT_EQ(L.SerialNumber, A6 | 0x012345);
    EXPECT_EQ(Dialogs, 0);
}

TEST_F(FindKorvexTest, RememberedProgrammerMissingShowsTheDialog) {
    H.Configure("device A6015432");
    L.SerialNumber = 0x012345;
    Answers = {A6 | 0x015432};
    EXPECT_TRUE(L.FindKorvex());
    EXPECT_EQ(Dialogs, 1);
    EXPECT_EQ(L.SerialNumber, 0x015432) << "read back from the device, top byte clear";
    EXPECT_THAT(Status, ElementsAre("Using KORVEX S/N 015432"));
}

TEST_F(FindKorvexTest, FirstRunShowsTheDialogEvenForOneProgrammer) {
    H.Configure("device A6012345");
    L.SerialNumber = -1;
    Answers = {-1}; // OK with nothing selected: the only programmer is used
    EXPECT_TRUE(L.FindKorvex());
    EXPECT_EQ(Dialogs, 1);
    EXPECT_EQ(L.SerialNumber, 0x012345);
    EXPECT_THAT(Status, ElementsAre("Using KORVEX S/N 012345"));
}

TEST_F(FindKorvexTest, NothingSelectedAmongTwoAsksAgain) {
    H.Configure("device A6012345\ndevice A6015432");
    Answers = {-1, A6 | 0x012345};
    EXPECT_TRUE(L.FindKorvex());
    EXPECT_EQ(Dialogs, 2);
    EXPECT_EQ(L.SerialNumber, 0x012345);
}

TEST_F(FindKorvexTest, DuplicateSerialsCannotBeChosen) {
    H.Configure("device A6011111\ndevice A6011111");
    Answers = {A6 | 0x011111, A6 | 0x011111, -2};
    EXPECT_FALSE(L.FindKorvex());
    EXPECT_EQ(Dialogs, 3);
    EXPECT_THAT(Errors, IsEmpty()) << "Cancel ends without a message";
}

TEST_F(FindKorvexTest, NoProgrammerAttached) {
    H.Configure("no_devices");
    L.SerialNumber = 0x012345;
    L.OnClockTms(0, 1); // queued bytes stay when nothing is found
    EXPECT_FALSE(L.FindKorvex());
    EXPECT_THAT(Errors, ElementsAre("KORVEX not found"));
    EXPECT_EQ(Dialogs, 0);
    EXPECT_EQ(L.QueueLength(), 4u);
}

TEST_F(FindKorvexTest, ChosenProgrammerUnpluggedBeforeTheSearch) {
    H.Configure("device A6012345");
    L.SerialNumber = -1;
    // The dialog picks a programmer that is then gone: the next search finds nothing.
    L.ChooseKorvex = [this] {
        ++Dialogs;
        L.SerialNumber = A6 | 0x012345;
        H.Configure("no_devices");
        return true;
    };
    EXPECT_FALSE(L.FindKorvex());
    EXPECT_THAT(Errors, ElementsAre("KORVEX not found"));
}

TEST_F(FindKorvexTest, SuccessEmptiesTheQueueForTheNewRun) {
    H.Configure("device A6012345");
    L.SerialNumber = 0x012345;
    L.OnClockTms(0, 1);
    EXPECT_TRUE(L.FindKorvex());
    EXPECT_EQ(L.QueueLength(), 0u);
}

TEST_F(FindKorvexTest, OpenNeedsExactlyOneMatchingProgrammer) {
    H.Configure("device A6012345\ndevice A6015432");
    L.SerialNumber = -1;
    EXPECT_FALSE(L.OpenKorvex()) << "two attached, none chosen";
    L.SerialNumber = 0x015432;
    ASSERT_TRUE(L.OpenKorvex());
    EXPECT_TRUE(L.Connected());
    // Opening again closes the connection first (the device would refuse a second open).
    EXPECT_TRUE(L.OpenKorvex());
    L.CloseKorvex();
    EXPECT_FALSE(L.Connected());
    H.Configure("device A6012345 refuse");
    L.SerialNumber = 0x012345;
    EXPECT_FALSE(L.OpenKorvex());
    EXPECT_FALSE(L.Connected());
}
