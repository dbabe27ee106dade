// plugin.cpp - the class registry (cpiCreateParserFactory, cpiDefineParserClass) and the loading
// of parser plug-ins (broker::Plugin).
//
// Process-wide state:
//   registryMutex  guards factories and every factory's classes.
//   factories      every factory ever created, never freed; starts empty.
//   failNextFactory  test hook, atomic; starts false.
//   loadMutex      guards loaded (and serialises loading).
//   loaded         the factory each plug-in entry point returned, so that it is called once per
//                  loaded library; starts empty.
#include <dlfcn.h>

#include <atomic>
#include <map>
#include <mutex>

#include "broker/internal.h"

namespace broker {

namespace {

std::mutex registryMutex;
std::vector<std::unique_ptr<CciFactory>> factories;
std::atomic<bool> failNextFactory{false};

std::mutex loadMutex;
std::map<BipGetParserFactoryFn, CciFactory*> loaded;

// Call with registryMutex held.
bool knownFactory(const CciFactory* factory) {
  if (!factory || factory->tag != detail::kFactoryTag) return false;
  for (const auto& known : factories)
    if (known.get() == factory) return true;
  return false;
}

// Calls the entry point once per loaded library (again only if it gave no factory before).
CciFactory* factoryOf(BipGetParserFactoryFn entry) {
  std::lock_guard lock(loadMutex);
  auto it = loaded.find(entry);
  if (it != loaded.end() && it->second) return it->second;
  CciFactory* factory = entry();
  loaded[entry] = factory;
  return factory;
}

}  // namespace

void failNextFactoryCreation() {
  failNextFactory.store(true);
}

Plugin::Plugin(const std::string& path) : path_(path) {
  // RTLD_NODELETE: the library stays loaded after the last dlclose, as its factory and classes
  // stay in the registry.
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!library_) {
    const char* reason = dlerror();
    throw UsageError("cannot load parser plug-in " + path + ": " + (reason ? reason : "?"));
  }
  dlerror();
  void* symbol = dlsym(library_, BIP_GET_PARSER_FACTORY);
  if (!symbol) {
    const char* reason = dlerror();
    std::string message = "parser plug-in " + path + " has no " BIP_GET_PARSER_FACTORY ": " +
                          (reason ? reason : "null symbol");
    dlclose(library_);
    throw UsageError(message);
  }
  try {
    factory_ = factoryOf(reinterpret_cast<BipGetParserFactoryFn>(symbol));
  } catch (...) {
    dlclose(library_);
    throw;
  }
}

Plugin::Plugin(BipGetParserFactoryFn entry, const std::string& name) : path_(name) {
  if (!entry) throw UsageError("parser plug-in " + name + ": no entry point");
  factory_ = factoryOf(entry);
}

Plugin::~Plugin() {
  if (library_) dlclose(library_);
}

std::string Plugin::factoryName() const {
  std::lock_guard lock(registryMutex);
  return factory_ ? utf8(factory_->name) : std::string();
}

std::vector<std::string> Plugin::classNames() const {
  std::lock_guard lock(registryMutex);
  std::vector<std::string> names;
  if (factory_)
    for (const ParserClass& parserClass : factory_->classes)
      names.push_back(utf8(parserClass.name));
  return names;
}

const CpiFunctionTable* Plugin::functionTable(const std::string& className) const {
  const std::u16string name = utf16(className);
  std::lock_guard lock(registryMutex);
  if (!factory_) return nullptr;
  for (const ParserClass& parserClass : factory_->classes)
    if (parserClass.name == name) return parserClass.table;
  return nullptr;
}

}  // namespace broker

using broker::detail::setRc;

extern "C" {

CciFactory* cpiCreateParserFactory(int* rc, const CciChar* name) {
  if (!name) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return nullptr;
  }
  if (broker::failNextFactory.exchange(false)) {
    setRc(rc, CCI_FAILURE);
    return nullptr;
  }
  try {
    auto factory = std::make_unique<CciFactory>();
    factory->name = name;
    std::lock_guard lock(broker::registryMutex);
    broker::factories.push_back(std::move(factory));
    setRc(rc, CCI_SUCCESS);
    return broker::factories.back().get();
  } catch (const std::bad_alloc&) {
    setRc(rc, CCI_FAILURE);
    return nullptr;
  }
}

void cpiDefineParserClass(int* rc, CciFactory* factory, const CciChar* name,
                          const CpiFunctionTable* table) {
  std::lock_guard lock(broker::registryMutex);
  if (!broker::knownFactory(factory)) {
    setRc(rc, CCI_INV_FACTORY_OBJECT);
    return;
  }
  if (!name || !table) {
    setRc(rc, CCI_INV_DATA_POINTER);
    return;
  }
  const std::u16string className = name;
  bool reservedEmpty = true;
  for (CpiUnusedFn slot : table->reserved) reservedEmpty &= slot == nullptr;
  bool duplicate = false;
  for (const ParserClass& existing : factory->classes) duplicate |= existing.name == className;
  if (className.empty() || !reservedEmpty || duplicate) {
    setRc(rc, CCI_INV_ARGUMENT);
    return;
  }
  try {
    factory->classes.push_back(ParserClass{className, table});
  } catch (const std::bad_alloc&) {
    setRc(rc, CCI_FAILURE);
    return;
  }
  setRc(rc, CCI_SUCCESS);
}

}  // extern "C"
