// The built-in English language text, from the message list.
#include "uTrans.h"

const std::array<const char*, kLangMessageCount> kDefaultLangTexts = {{
#define VELTRA_LANG_MESSAGE_TEXT(name, text) text,
    VELTRA_LANG_MESSAGES(VELTRA_LANG_MESSAGE_TEXT)
#undef VELTRA_LANG_MESSAGE_TEXT
}};
