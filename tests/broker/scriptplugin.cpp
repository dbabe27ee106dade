// The script parser as a loadable plug-in library, for the tests that load one by path.
#include "tests/broker/scriptparser.h"

extern "C" CCI_EXPORT CciFactory* bipGetParserFactory() {
  return scriptparser::getParserFactory();
}
