#include "quickfix_check.h"

#include <quickfix/DataDictionary.h>
#include <quickfix/Exceptions.h>
#include <quickfix/Message.h>

#include <map>
#include <memory>

namespace writer_test {
namespace {

// Reading a dictionary takes a while; each file is read once per test program.
const FIX::DataDictionary& dictionary(const std::string& path) {
  static std::map<std::string, std::unique_ptr<FIX::DataDictionary>> loaded;
  std::unique_ptr<FIX::DataDictionary>& slot = loaded[path];
  if (!slot) slot.reset(new FIX::DataDictionary(path));
  return *slot;
}

}  // namespace

std::string quickfixRejection(const std::string& message, const std::string& sessionDictionary,
                              const std::string& applicationDictionary, bool fullValidation) {
  try {
    const FIX::DataDictionary& session = dictionary(sessionDictionary);
    const FIX::DataDictionary& application = dictionary(applicationDictionary);
    FIX::Message parsed(message, session, application, true);
    if (fullValidation) FIX::DataDictionary::validate(parsed, &session, &application);
    return "";
  } catch (const FIX::Exception& e) {
    return e.type + ": " + e.detail;
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace writer_test
