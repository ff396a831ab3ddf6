// The wizard's inside: page numbers, the page sequence and the page
// procedures that the frame creates.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The page the frame shows now, or none; the extraction worker's thread
// reads it to report progress.
extern volatile HWND PageWindow;

enum WizardPageNumber : int {
  kWelcomePage = 1,
  kLicencePage = 2,
  kReadmePage = 3,
  kUnpackPage = 4,
  kProgressPage = 8,
  kCompletionPage = 10,
};

// What decides which pages are shown.
struct PageSequence {
  bool HasLicence;
  bool HasReadme;
  bool ShowUnpackPage;
};

// The page one step forward or back from `page`, skipping the pages the
// sequence leaves out. `removeAfter` is set when the step skips the unpack
// page. The free-space check is the caller's.
int StepTarget(int page, bool forward, const PageSequence& sequence, bool& removeAfter);

// Welcome, licence, readme, unpack-options and completion pages.
INT_PTR CALLBACK WizardPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// The progress page; it starts the extraction worker.
INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Enables or disables the destination folder controls for choice 1
// (temporary location, removed) or 2 (the folder below, kept).
void SetDestinationEnabled(HWND page, int choice);

// The progress page's side of ExtractionUi, called on the worker's thread.
// Says "one moment" on a page already shown, waits for the page, and sets the
// bar's range for `total` bytes: 0..32767 scaled for large installations,
// unscaled otherwise.
void BeginExtractionProgress(int64_t total);
// The status line of the page, as given.
void ShowExtractionStatus(const std::string& text);
// The bar's position for `done` bytes, rounded to nearest, ties to even.
void ShowExtractionProgress(int64_t done);
