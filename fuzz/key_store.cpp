// libFuzzer target for the key store reader: the bytes give a key path, a value name and data,
// then the text of the store file. Besides the sanitizers, it stops when the text the store
// saves does not read back to the same text, when a value it took does not read back after a
// save, or when a value it refused changed the store.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/require.h"
#include "platform/registry_store.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string keyPath = input.ConsumeRandomLengthString(64);
    const std::string name = input.ConsumeRandomLengthString(16);
    const std::string value = input.ConsumeRandomLengthString(64);
    const std::string text = input.ConsumeRemainingBytesAsString();

    using platform::KeyStoreContent;
    KeyStoreContent content = KeyStoreContent::FromText(text);
    if (!KeyStoreContent::IsStorableKeyPath(keyPath)) {
        const std::string saved = content.Text();
        FUZZ_REQUIRE(!content.SetValue(keyPath, name, value) && content.Text() == saved);
        FUZZ_REQUIRE(KeyStoreContent::FromText(saved).Text() == saved);
        return 0;
    }
    FUZZ_REQUIRE(content.SetValue(keyPath, name, value));
    const std::string changed = content.Text();
    const KeyStoreContent reread = KeyStoreContent::FromText(changed);
    FUZZ_REQUIRE(reread.Text() == changed);
    std::string readBack;
    FUZZ_REQUIRE(reread.ReadValue(keyPath, name, readBack) && readBack == value);
    return 0;
}
