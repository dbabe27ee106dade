// QuickFIX's verdict on a FIX message, behind a plain interface: the QuickFIX headers need an
// older language standard than the rest of the tests, so only quickfix_check.cpp includes them.
#ifndef CORVALE_TESTS_WRITER_QUICKFIX_CHECK_H
#define CORVALE_TESTS_WRITER_QUICKFIX_CHECK_H

#include <string>

namespace writer_test {

// Empty when QuickFIX reads message with the two data dictionaries (the same file twice for a
// level before FIXT.1.1), BodyLength and CheckSum validation on, and, with fullValidation, also
// finds it valid for the dictionaries (required fields, types, groups); otherwise its reason.
std::string quickfixRejection(const std::string& message, const std::string& sessionDictionary,
                              const std::string& applicationDictionary, bool fullValidation);

}  // namespace writer_test

#endif  // CORVALE_TESTS_WRITER_QUICKFIX_CHECK_H
