// The module as a loader and a host first see it: exports, dependencies,
// the entry point and the effect record.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "abi_fixture.h"
#if !defined(_WIN32)
#include "support/command_lines.h"
#endif

namespace {

using abitest::Abi;

#if !defined(_WIN32)
// The module's exports and imports as the ELF tools read them (the Windows
// DLLs are checked with objdump by scripts/windows.sh).
using elf::exportedSymbols;
using elf::neededLibraries;

TEST(Module, ExportsExactlyTheEntryPointAndMain) {
    EXPECT_EQ(exportedSymbols(TARNVALE_MODULE_PATH), (std::set<std::string>{"VSTPluginMain", "main"}));
}

TEST(Module, NeedsOnlyTheCLibraryAtRunTime) {
#if TARNVALE_SANITIZED
    GTEST_SKIP() << "sanitizer builds link their runtimes";
#else
    const auto needed = neededLibraries(TARNVALE_MODULE_PATH);
    ASSERT_FALSE(needed.empty());
    for (const auto& library : needed)
        EXPECT_TRUE(library == "libc.so.6" || library == "libm.so.6") << library << " is not the C library or libm";
#endif
}

TEST(Module, MainIsTheSameFunctionAsVSTPluginMain) {
    void* handle = dlopen(TARNVALE_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) handle = dlopen(TARNVALE_MODULE_PATH, RTLD_NOW);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(dlsym(handle, "VSTPluginMain"), dlsym(handle, "main"));
    dlclose(handle);
}

#else

TEST(Module, MainIsTheSameFunctionAsVSTPluginMain) {
    HMODULE handle = LoadLibraryA(TARNVALE_MODULE_PATH);
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(GetProcAddress(handle, "VSTPluginMain"), nullptr);
    EXPECT_EQ(GetProcAddress(handle, "VSTPluginMain"), GetProcAddress(handle, "main"));
    FreeLibrary(handle);
}

#endif

struct VersionHost {
    static int calls;
    static VstIntPtr answer;
    static VstIntPtr VSTCALLBACK callback(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                          float opt) {
        ++calls;
        EXPECT_EQ(e, nullptr);
        EXPECT_EQ(opcode, audioMasterVersion);
        EXPECT_EQ(index, 0);
        EXPECT_EQ(value, 0);
        EXPECT_EQ(ptr, nullptr);
        EXPECT_EQ(opt, 0.0f);
        return answer;
    }
};
int VersionHost::calls = 0;
VstIntPtr VersionHost::answer = 0;

TEST(Module, EntryPointRefusesHostsOfVersionZeroAndNoHost) {
    auto entry = abitest::module().entryPoint();
    VersionHost::calls = 0;
    VersionHost::answer = 0;
    EXPECT_EQ(entry(VersionHost::callback), nullptr);
    EXPECT_EQ(VersionHost::calls, 1);
    EXPECT_EQ(entry(nullptr), nullptr);

    VersionHost::answer = 1;  // any other answer is accepted
    AEffect* e = entry(VersionHost::callback);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(VersionHost::calls, 2);
    EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
}

TEST_F(Abi, RecordAfterCreation) {
    EXPECT_EQ(fx->magic, 0x56737450);
    EXPECT_EQ(fx->numPrograms, 1);
    EXPECT_EQ(fx->numParams, 68);
    EXPECT_EQ(fx->numInputs, 32);
    EXPECT_EQ(fx->numOutputs, 38);
    EXPECT_EQ(fx->flags, 0x10);
    EXPECT_EQ(fx->resvd1, 0);
    EXPECT_EQ(fx->resvd2, 0);
    EXPECT_EQ(fx->initialDelay, 0);
    EXPECT_EQ(fx->realQualities, 0);
    EXPECT_EQ(fx->offQualities, 0);
    EXPECT_EQ(fx->user, nullptr);
    EXPECT_EQ(fx->ioRatio, 1.0f);
    EXPECT_NE(fx->object, nullptr);
    EXPECT_EQ(fx->uniqueID, 0x31383635);
    EXPECT_EQ(fx->version, 1);
    unsigned char littleEndian[4];
    std::memcpy(littleEndian, &fx->uniqueID, 4);
    EXPECT_EQ(littleEndian[0], 0x35);
    EXPECT_EQ(littleEndian[3], 0x31);
    for (char byte : fx->future) EXPECT_EQ(byte, 0);
    for (auto fn : {reinterpret_cast<void*>(fx->dispatcher), reinterpret_cast<void*>(fx->process),
                    reinterpret_cast<void*>(fx->setParameter), reinterpret_cast<void*>(fx->getParameter),
                    reinterpret_cast<void*>(fx->processReplacing), reinterpret_cast<void*>(fx->processDoubleReplacing)})
        EXPECT_NE(fn, nullptr);
    const auto calls = host.calls();
    ASSERT_EQ(calls.size(), 1u) << "only the version query before the record is handed out";
    EXPECT_EQ(calls[0].opcode, audioMasterVersion);
}

TEST_F(Abi, InstancesAreIndependent) {
    std::string error;
    vsthost::Host otherHost;
    auto other = vsthost::Plugin::create(abitest::module(), otherHost, error);
    ASSERT_TRUE(other);
    EXPECT_NE(other->effect(), fx);
    EXPECT_NE(other->effect()->object, fx->object);
    other->setParameter(5, 0.1f);
    EXPECT_EQ(plugin->getParameter(5), 0.78125f);
    EXPECT_EQ(other->getParameter(5), 0.1f);
}

TEST_F(Abi, AccumulatingAndDoubleProcessLeaveOutputsAlone) {
    vsthost::AudioBuffers in(abitest::kInputs, 16, 0.5f), out(abitest::kOutputs, 16, 7.0f);
    plugin->process(in.pointers(), out.pointers(), 16);
    vsthost::ChannelBuffers<double> din(abitest::kInputs, 16, 0.5), dout(abitest::kOutputs, 16, 7.0);
    plugin->processDoubleReplacing(din.pointers(), dout.pointers(), 16);
    for (int k = 0; k < abitest::kOutputs; ++k)
        for (int i = 0; i < 16; ++i) {
            ASSERT_EQ(out[k][i], 7.0f);
            ASSERT_EQ(dout[k][i], 7.0);
        }
}

}  // namespace
