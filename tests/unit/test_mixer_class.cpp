// MyMixerVST linked directly: the parts of its state a host cannot see.
#include <gtest/gtest.h>

#include <vector>

#include "mixer/mymixervst.h"
#include "host/audio_buffers.h"
#include "host/vst_host.h"

namespace {

VstIntPtr VSTCALLBACK silentHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }

TEST(MixerClass, QueueCopiesFieldsInListOrderUpTo255) {
    MyMixerVST mixer(silentHost);
    EXPECT_EQ(mixer.queuedEventCount(), 0);
    vsthost::EventList list;
    VstEvent sysex{};
    sysex.type = kVstSysExType;
    list.raw(sysex).midi(-3, 0x93, 60, 100).controlChange(5, 15, 14, 64);
    EXPECT_EQ(mixer.processEvents(list.get()), 1);
    ASSERT_EQ(mixer.queuedEventCount(), 2);
    EXPECT_EQ(mixer.queuedEvent(0).deltaFrames, -3);
    EXPECT_EQ(mixer.queuedEvent(0).status, 0x90);
    EXPECT_EQ(mixer.queuedEvent(0).channel, 3);
    EXPECT_EQ(mixer.queuedEvent(0).data1, 60);
    EXPECT_EQ(mixer.queuedEvent(0).data2, 100);
    EXPECT_EQ(mixer.queuedEvent(1).status, 0xB0);
    EXPECT_EQ(mixer.queuedEvent(1).channel, 15);

    // The note at -3 is already due, so it stays ahead of the new list; the
    // control change at 5 is not, so it goes. The queue fills up at 255.
    vsthost::EventList many;
    for (int i = 0; i < 300; ++i) many.controlChange(i, 0, 7, 1);
    mixer.processEvents(many.get());
    ASSERT_EQ(mixer.queuedEventCount(), 255);
    EXPECT_EQ(mixer.queuedEvent(0).deltaFrames, -3);
    EXPECT_EQ(mixer.queuedEvent(1).deltaFrames, 0);
    EXPECT_EQ(mixer.queuedEvent(254).deltaFrames, 253);
    // A null list appends nothing; of the unapplied events only those
    // already due stay.
    EXPECT_EQ(mixer.processEvents(nullptr), 1);
    ASSERT_EQ(mixer.queuedEventCount(), 2);
    EXPECT_EQ(mixer.queuedEvent(0).deltaFrames, -3);
    EXPECT_EQ(mixer.queuedEvent(1).deltaFrames, 0);
}

TEST(MixerClass, LastControlChangeState) {
    MyMixerVST mixer(silentHost);
    vsthost::AudioBuffers in(32, 4), out(38, 4);
    vsthost::EventList list;
    list.controlChange(0, 3, 119, 127).midi(1, 0x90, 60, 1).controlChange(2, 0, 7, 5).controlChange(3, 15, 14, 64);
    mixer.processEvents(list.get());
    mixer.processReplacing(in.pointers(), out.pointers(), 1);
    EXPECT_EQ(mixer.lastControlParameter(), 0);
    EXPECT_EQ(mixer.lastControlValue(), 1.0f);
    mixer.processReplacing(in.pointers(), out.pointers(), 1);  // the note: no change
    EXPECT_EQ(mixer.lastControlParameter(), 0);
    mixer.processReplacing(in.pointers(), out.pointers(), 1);  // controller 7 maps to nothing
    EXPECT_EQ(mixer.lastControlParameter(), 255);
    EXPECT_EQ(mixer.lastControlValue(), 1.0f);
    EXPECT_EQ(mixer.queuedEventCount(), 1);
    mixer.processReplacing(in.pointers(), out.pointers(), 1);
    EXPECT_EQ(mixer.lastControlParameter(), 67);
    EXPECT_EQ(mixer.lastControlValue(), 0.5f);
    EXPECT_EQ(mixer.getParameter(67), 0.5f);
    EXPECT_EQ(mixer.queuedEventCount(), 0);
}

}  // namespace
