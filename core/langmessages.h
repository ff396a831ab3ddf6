// The messages of a language text in row order, each with the name the code
// uses and its built-in English text: the one place that ties a message
// number to its meaning. Doubled blanks and the trailing blank of
// kMsgUninstallStatus are part of the texts.
#pragma once

// clang-format off
#define VELTRA_LANG_MESSAGES(X) \
  X(kMsgSetupTitle, "<APPNAME> Setup") /* 0 */ \
  X(kMsgErrorTitle, "Error") /* 1 */ \
  X(kMsgExitSetupTitle, "Exit Setup") /* 2 */ \
  X(kMsgOk, "OK") /* 3 */ \
  X(kMsgCancel, "Cancel") /* 4 */ \
  X(kMsgYes, "&Yes") /* 5 */ \
  X(kMsgNo, "&No") /* 6 */ \
  X(kMsgYesToAll, "Yes to &All") /* 7 */ \
  X(kMsgNoToAll, "N&o to All") /* 8 */ \
  X(kMsgBack, "< &Back") /* 9 */ \
  X(kMsgNext, "&Next >") /* 10 */ \
  X(kMsgFinish, "&Finish") /* 11 */ \
  X(kMsgBrowse, "B&rowse") /* 12 */ \
  X(kMsgRemoveFilesTitle, "Remove Installation Files") /* 13 */ \
  X(kMsgRemoveFilesQuestion, "Do you want to remove the files used to perform the installation?") /* 14 */ \
  X(kMsgProgressTitle, "Unpacking <APPNAME>") /* 15 */ \
  X(kMsgProgressSubtitle, "The requested operations are now being performed.") /* 16 */ \
  X(kMsgWelcomeTitle, "Welcome to <APPNAME> Setup") /* 17 */ \
  X(kMsgWelcomeText, "Setup will install <APPNAME> on your computer.<br/>It is strongly recommended that you exit all Windows Program before running Setup.") /* 18 */ \
  X(kMsgLicenceTitle, "License Agreement") /* 19 */ \
  X(kMsgLicenceSubtitle, "Please read the following License agreement carefully. Press PAGE DOWN to see the rest of the agreeement.") /* 20 */ \
  X(kMsgReadmeTitle, "Readme") /* 21 */ \
  X(kMsgReadmeSubtitle, "Please read the following information regarding the software.") /* 22 */ \
  X(kMsgCompletionTitle, "Installation completed") /* 23 */ \
  X(kMsgCompletionText, "Setup has finished installing <APPNAME> on your computer.") /* 24 */ \
  X(kMsgCompletionRestartText, "Setup has successfully installed <APPNAME> on your computer.  Before you can use the program, you must restart your computer.") /* 25 */ \
  X(kMsgClickNext, "To continue Setup, click Next.") /* 26 */ \
  X(kMsgLicenceQuestion, "Do you accept all the terms of the preceding License Agreement?  If you choose No,  Setup will close.  To install <APPNAME>, you must accept this agreement.") /* 27 */ \
  X(kMsgUnpackToTemp, "Unpack the files used to perform the installation to a temporary location, and automatically remove these files after the setup is completed. Select this option if you are not planning to run the setup again later.") /* 28 */ \
  X(kMsgUnpackToFolder, "Unpack the files used to perform the installation to the location specified below, and don't remove these files after the setup is completed. Select this option if you are planning to run the setup again at a later time. If the specified folder location does not exist, it will be created automatically.") /* 29 */ \
  X(kMsgDestinationLabel, "&Destination Folder:") /* 30 */ \
  X(kMsgStatusLabel, "Status:") /* 31 */ \
  X(kMsgClickFinish, "Click Finish to complete Setup.") /* 32 */ \
  X(kMsgRemoveDisksFinish, "Remove any disks from their drives, and then click Finish to complete setup.") /* 33 */ \
  X(kMsgRestartNowChoice, "Yes, I want to restart my computer now.") /* 34 */ \
  X(kMsgLaunchNowChoice, "Yes, I want to launch <APPNAME> now.") /* 35 */ \
  X(kMsgViewReadmeChoice, "Yes, I want to view the Read Me file.") /* 36 */ \
  X(kMsgPasswordTitle, "Password") /* 37 */ \
  X(kMsgPasswordText, "This package has been protected with a password.") /* 38 */ \
  X(kMsgPasswordHint, "Enter the password required to run this package. Please note that passwords are case sensitive.") /* 39 */ \
  X(kMsgPasswordLabel, "&Password:") /* 40 */ \
  X(kMsgVolumeTitle, "Next Volume required") /* 41 */ \
  X(kMsgVolumeText, "Setup needs the following volume in order to continue with installation.") /* 42 */ \
  X(kMsgVolumeHint, "Insert the Disk containing the volume or enter its full path where it is located. Click OK to continue.") /* 43 */ \
  X(kMsgVolumeLabel, "&Location:") /* 44 */ \
  X(kMsgOverwriteTitle, "Overwrite Protection") /* 45 */ \
  X(kMsgOverwriteText, "The following file is already installed on your system:") /* 46 */ \
  X(kMsgOverwriteQuestion, "Do you wish to overwrite this file?") /* 47 */ \
  X(kMsgOneMoment, "One moment please...") /* 48 */ \
  X(kMsgDefrostStatus, "Defrost: <S>...") /* 49 */ \
  X(kMsgShortcutsStatus, "Creating Program Shortcuts...") /* 50 */ \
  X(kMsgRegistryStatus, "Creating Registry Entries...") /* 51 */ \
  X(kMsgUninstallStatus, "Creating Uninstall Information... ") /* 52 */ \
  X(kMsgExecutingStatus, "Executing <S>...") /* 53 */ \
  X(kMsgAboutSetup, "&About Setup...") /* 54 */ \
  X(kMsgBrowseFolderPrompt, "Please select a Folder where Setup will install <APPNAME>.") /* 55 */ \
  X(kMsgInvalidPath, "<S> is not a valid path. Please try again.") /* 56 */ \
  X(kMsgExitQuestion, "<APPNAME> Setup is not complete.<br/>If you exit Setup now, <APPNAME> will not be installed on your system.<br/><br/>Are you sure to exit Setup?") /* 57 */ \
  X(kMsgDiskSpace, "Sorry, Setup requires at least <MIN_FREE> bytes of Disk Space on the Destination Location.<br/>Free some Disk Space and try again.") /* 58 */ \
  X(kMsgTempFolderFailed, "Unable to create temporary folder.") /* 59 */ \
  X(kMsgCannotContinue, "Setup cannot continue because of the following problem:") /* 60 */ \
  X(kMsgCreateFileFailed, "Unable to create this file:") /* 61 */ \
  X(kMsgCreateFolderFailed, "Unable to create this Folder:") /* 62 */ \
  X(kMsgWrongPassword, "Unable to open the Package with this Password. Your Password may be wrong or the Package may have been damaged.") /* 63 */ \
  X(kMsgCabinetTampered, "Unable to read Cabinet. The Cabinet may have been tempared with.") /* 64 */ \
  X(kMsgCabinetDllFailed, "Unable to initialize CABINET.DLL.") /* 65 */ \
  X(kMsgCabSeekError, "Error seeking Cabinet") /* 66 */ \
  X(kMsgCabNotFound, "Cabinet not found") /* 67 */ \
  X(kMsgCabUnknownType, "Cabinet Compression Type is unknown") /* 68 */ \
  X(kMsgCabVersion, "Cabinet Version mismatch") /* 69 */ \
  X(kMsgCabFormat, "Cabinet Format mismatch") /* 70 */ \
  X(kMsgCabCorrupt, "Cabinet may have been corrupted") /* 71 */ \
  X(kMsgCabNoMemory, "Setup could not allocate enough memory to continue with extraction") /* 72 */ \
  X(kMsgCabExtractFailed, "Failure extracting file(s) from cabinet") /* 73 */ \
  X(kMsgCabReserveMismatch, "Cabinets in the set do not have the same reserved space") /* 74 */ \
  X(kMsgCabWrongSequence, "The Next cabinet is out of sequence") /* 75 */ \
  X(kMsgCabUserAbort, "User abort") /* 76 */ \
  X(kMsgCabUnknownError, "Unknown error occurred") /* 77 */ \
  X(kMsgCabOpenFailed, "Unable to open cabinet for decompression.") /* 78 */ \
  X(kMsgRegistryFailed, "Unable to create Data in the System Registry:") /* 79 */ \
  X(kMsgShellLinkFailed, "Unable to create Shell Link:") /* 80 */ \
  X(kMsgRestartFailed, "Unable to restart Windows.") /* 81 */
// clang-format on

enum LangMessage : int {
#define VELTRA_LANG_MESSAGE_NAME(name, text) name,
  VELTRA_LANG_MESSAGES(VELTRA_LANG_MESSAGE_NAME)
#undef VELTRA_LANG_MESSAGE_NAME
      kLangMessageCount
};
