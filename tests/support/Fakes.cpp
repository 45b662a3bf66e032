#include "support/Fakes.h"

#include <stdexcept>

namespace tarvex::test {

namespace {
class FakeKey : public ISettingsKey {
 public:
  FakeKey(FakeSettingsStore& store, std::string path) : store_(store), path_(std::move(path)) {}
  [[nodiscard]] bool ValueExists(const std::string& name) const override {
    return store_.keys[path_].count(name) != 0;
  }
  [[nodiscard]] std::int32_t ReadInteger(const std::string& name) const override {
    const auto& v = store_.keys[path_].at(name);
    if (!v.isInt) throw ESettingsTypeError("wrong type");
    return v.i;
  }
  [[nodiscard]] std::string ReadString(const std::string& name) const override {
    const auto& v = store_.keys[path_].at(name);
    if (v.isInt) throw ESettingsTypeError("wrong type");
    return v.s;
  }
  void WriteInteger(const std::string& name, std::int32_t value) override {
    store_.keys[path_][name] = FakeSettingsStore::Value{true, value, {}};
  }
  void WriteString(const std::string& name, const std::string& value) override {
    store_.keys[path_][name] = FakeSettingsStore::Value{false, 0, value};
  }
  void Close() override { ++store_.closes; }

 private:
  FakeSettingsStore& store_;
  std::string path_;
};
}  // namespace

std::unique_ptr<ISettingsKey> FakeSettingsStore::OpenKey(const std::string& path, bool canCreate) {
  if (failOpen) return nullptr;
  if (keys.count(path) == 0) {
    if (!canCreate) return nullptr;
    keys[path];
  }
  return std::make_unique<FakeKey>(*this, path);
}

}  // namespace tarvex::test
