// The wizard's arithmetic: the page sequence and its skips, the progress bar,
// the header picture's width and the large title's height.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "dialoghelpers.h"
#include "setupparams.h"
#include "wizard.h"

namespace {

// The pages a person meets, in order: a model of the sequence built from
// the three settings alone, against which the step function is checked.
std::vector<int> ShownPages(const PageSequence& s) {
  std::vector<int> pages = {kWelcomePage};
  if (s.HasLicence) pages.push_back(kLicencePage);
  if (s.HasReadme) pages.push_back(kReadmePage);
  if (s.ShowUnpackPage) pages.push_back(kUnpackPage);
  pages.push_back(kProgressPage);
  return pages;
}

std::vector<PageSequence> AllSequences() {
  std::vector<PageSequence> all;
  for (int bits = 0; bits < 8; ++bits) all.push_back({(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0});
  return all;
}

std::string Name(const PageSequence& s) {
  return std::string("licence=") + (s.HasLicence ? "1" : "0") + " readme=" + (s.HasReadme ? "1" : "0") +
         " unpack=" + (s.ShowUnpackPage ? "1" : "0");
}

TEST(PageSequence, ForwardVisitsEveryShownPageInOrder) {
  for (const PageSequence& s : AllSequences()) {
    SCOPED_TRACE(Name(s));
    const std::vector<int> expected = ShownPages(s);
    int page = kWelcomePage;
    std::vector<int> visited = {page};
    while (page != kProgressPage && visited.size() < 10) {
      bool removeAfter = true;
      const int from = page;
      page = StepTarget(page, true, s, removeAfter);
      // RemoveAfter is forced exactly when the step jumps over the unpack page.
      EXPECT_EQ(!s.ShowUnpackPage && page == kProgressPage, removeAfter) << "from " << from;
      visited.push_back(page);
    }
    EXPECT_EQ(expected, visited);
  }
}

TEST(PageSequence, BackReturnsToThePreviousShownPage) {
  for (const PageSequence& s : AllSequences()) {
    SCOPED_TRACE(Name(s));
    const std::vector<int> shown = ShownPages(s);
    // The progress page has no way back; every other page returns one step.
    for (size_t i = 1; i + 1 < shown.size(); ++i) {
      bool removeAfter = true;
      EXPECT_EQ(shown[i - 1], StepTarget(shown[i], false, s, removeAfter)) << "from " << shown[i];
      EXPECT_FALSE(removeAfter);
    }
  }
}

TEST(PageSequence, PagesWithoutAStepStayWhereTheyAre) {
  const PageSequence all = {true, true, true};
  struct Case {
    int page;
    bool forward;
    int expected;
  };
  const Case cases[] = {
      {kWelcomePage, false, kWelcomePage},       {kProgressPage, false, kProgressPage},
      {kProgressPage, true, kCompletionPage},    {kCompletionPage, true, kCompletionPage},
      {kCompletionPage, false, kCompletionPage},
  };
  for (const Case& c : cases) {
    bool removeAfter = true;
    EXPECT_EQ(c.expected, StepTarget(c.page, c.forward, all, removeAfter)) << c.page << " " << c.forward;
    EXPECT_FALSE(removeAfter);
  }
}

TEST(HeaderPicture, WidthKeepsTheProportionsRoundedHalfToEven) {
  struct Case {
    int band, width, height;
    unsigned expected;
  };
  const Case cases[] = {
      {58, 98, 49, 116},                                      // twice as wide as high
      {57, 98, 49, 114},     {49, 49, 49, 49}, {3, 1, 2, 2},  // 1.5 rounds up to even
      {5, 1, 2, 2},                                           // 2.5 rounds down to even
      {7, 1, 2, 4},                                           // 3.5 rounds up to even
      {58, 100, 3, 1933},                                     // 1933.33...
      {40, 70000, 1, 47488},                                  // 2 800 000 cut to 16 bits
      {58, 10, 0, 0},                                         // no height: nothing to scale
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, HeaderPictureWidth(c.band, c.width, c.height))
        << c.band << " " << c.width << "x" << c.height;
  }
}

// The dialog font takes the character set of the package's code page, so
// that the system picks a face with its letters; without a recorded code
// page it stays the system's message font.
TEST(DialogFont, TakesTheCharacterSetOfThePackagesCodePage) {
  const struct {
    int codePage;
    int charset;
  } cases[] = {{1251, RUSSIAN_CHARSET}, {1250, EASTEUROPE_CHARSET}, {1253, GREEK_CHARSET},
               {932, SHIFTJIS_CHARSET}, {936, GB2312_CHARSET},      {950, CHINESEBIG5_CHARSET},
               {949, HANGUL_CHARSET},   {874, THAI_CHARSET},        {1252, ANSI_CHARSET}};
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  for (const auto& c : cases) {
    SetupParams.DialogFont = nullptr;
    SetupParams.PackageCodePage = c.codePage;
    CreateDialogFont();
    LOGFONTA look;
    ASSERT_EQ(static_cast<int>(sizeof look), GetObjectA(SetupParams.DialogFont, sizeof look, &look));
    EXPECT_EQ(c.charset, look.lfCharSet) << c.codePage;
    EXPECT_EQ(metrics.lfMessageFont.lfHeight, look.lfHeight) << c.codePage;
  }
  SetupParams.DialogFont = nullptr;
  SetupParams.PackageCodePage = 0;
  CreateDialogFont();
  LOGFONTA look;
  ASSERT_EQ(static_cast<int>(sizeof look), GetObjectA(SetupParams.DialogFont, sizeof look, &look));
  EXPECT_EQ(metrics.lfMessageFont.lfCharSet, look.lfCharSet);
  SetupParams.DialogFont = nullptr;
}

TEST(TitleFont, LargeHeightIsOneAndAHalfRoundedHalfToEven) {
  const int cases[][2] = {{-11, -16}, {-13, -20}, {-12, -18}, {-8, -12},
                          {11, 16},   {13, 20},   {0, 0},     {-1, -2}};
  for (const auto& c : cases) EXPECT_EQ(c[1], LargeTitleHeight(c[0])) << c[0];
}

}  // namespace

// The progress page's bar as the worker moves it: the range from the total,
// the position from the bytes done, scaled when the total exceeds the range.
TEST(Progress, WritesMoveTheBarScaledAndRoundedToEven) {
  const HWND page = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&classes));
  const HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 10, 10, page,
                                   reinterpret_cast<HMENU>(IDC_PROGRESS_BAR), nullptr, nullptr);
  ASSERT_NE(nullptr, page);
  ASSERT_NE(nullptr, bar) << GetLastError();
  PageWindow = page;
  const struct {
    int64_t total;
    int rangeMax;
    int64_t done;
    int position;
  } cases[] = {{2000, 2000, 1234, 1234}, {65534, 32767, 5, 2}, {65534, 32767, 7, 4}, {131068, 32767, 10, 2}};
  for (const auto& c : cases) {
    BeginExtractionProgress(c.total);
    ShowExtractionProgress(c.done);
    EXPECT_EQ(c.rangeMax, SendMessageA(bar, PBM_GETRANGE, FALSE, 0)) << c.total;
    EXPECT_EQ(c.position, SendMessageA(bar, PBM_GETPOS, 0, 0)) << c.total << " " << c.done;
  }
  PageWindow = nullptr;
  DestroyWindow(page);
}
