#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "instance/forwarded_payload.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Build(std::vector<std::string> arguments, uint32_t* size) {
    std::vector<char*> pointers;
    for (auto& text : arguments) pointers.push_back(&text[0]);
    unsigned char* payload = BuildForwardedPayload(static_cast<int>(pointers.size()), pointers.data(), size);
    EXPECT_NE(payload, nullptr);
    if (payload == nullptr) return {};
    Bytes bytes(payload, payload + *size);
    free(payload);
    return bytes;
}

// Splits a copy sized exactly like the received message, so that reading past it is caught by the
// sanitizer run; returns the strings, or nothing with *ok false when rejected.
std::vector<std::string> Split(const Bytes& received, bool* ok) {
    unsigned char* copy = static_cast<unsigned char*>(malloc(received.empty() ? 1 : received.size()));
    if (!received.empty()) memcpy(copy, received.data(), received.size());
    int count = -1;
    char** strings = SplitForwardedArguments(copy, received.size(), &count);
    std::vector<std::string> result;
    *ok = strings != nullptr;
    if (strings != nullptr) {
        for (int i = 0; i < count; i++) {
            // Every pointer must lie inside the received bytes.
            EXPECT_GE(reinterpret_cast<unsigned char*>(strings[i]), copy + 4);
            EXPECT_LT(reinterpret_cast<unsigned char*>(strings[i]), copy + received.size());
            result.push_back(strings[i]);
        }
        free(strings);
    }
    free(copy);
    return result;
}

// A hand-made payload: the count as given, the string bytes, then `tail` zero bytes.
Bytes Payload(uint32_t count, const std::string& strings, size_t tail = 5) {
    Bytes bytes(4 + strings.size() + tail, 0);
    for (int b = 0; b < 4; b++) bytes[b] = static_cast<unsigned char>(count >> (8 * b));
    if (!strings.empty()) memcpy(&bytes[4], strings.data(), strings.size());
    return bytes;
}

TEST(ForwardedPayload, ThreeArgumentsWithAnEmptyOneGiveTheExactBytes) {
    uint32_t size = 0;
    Bytes bytes = Build({"a", "", "bc"}, &size);
    EXPECT_EQ(size, 15u);
    Bytes expected = {0x03, 0, 0, 0, 0x61, 0x00, 0x00, 0x62, 0x63, 0x00, 0, 0, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
}

TEST(ForwardedPayload, NoArgumentsGiveNineZeroBytes) {
    uint32_t size = 0;
    unsigned char* payload = BuildForwardedPayload(0, nullptr, &size);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(Bytes(payload, payload + size), Bytes(9, 0));
    free(payload);
}

TEST(ForwardedPayload, BytesAboveAsciiAreCopiedUnchanged) {
    uint32_t size = 0;
    Bytes bytes = Build({"\xe9t\xe9", "\xff"}, &size);
    Bytes expected = {2, 0, 0, 0, 0xe9, 't', 0xe9, 0, 0xff, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(size, 15u);
    EXPECT_EQ(bytes, expected);
}

TEST(ForwardedPayload, CountIsLittleEndian) {
    std::vector<std::string> many(300, "x");
    uint32_t size = 0;
    Bytes bytes = Build(many, &size);
    EXPECT_EQ(size, 9u + 300u * 2u);
    EXPECT_EQ(bytes[0], 300 & 0xff);
    EXPECT_EQ(bytes[1], 300 >> 8);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 0);
}

TEST(ForwardedPayload, NegativeCountIsRefused) {
    uint32_t size = 77;
    EXPECT_FALSE(ForwardedPayloadSize(-1, nullptr, &size));
    EXPECT_EQ(BuildForwardedPayload(-1, nullptr, &size), nullptr);
    EXPECT_EQ(size, 77u);
}

TEST(ForwardedPayload, BuiltPayloadsSplitBackToTheArguments) {
    std::vector<std::vector<std::string>> cases = {
        {}, {""}, {"", ""}, {"a", "", "bc"}, {"with space", "\xc3\xa9\xff", "last"}};
    for (const auto& arguments : cases) {
        uint32_t size = 0;
        Bytes bytes = Build(arguments, &size);
        bool ok = false;
        EXPECT_EQ(Split(bytes, &ok), arguments);
        EXPECT_TRUE(ok);
    }
}

TEST(SplitForwardedArguments, PayloadShorterThanCountAndTailIsRejected) {
    for (size_t length = 0; length < 9; length++) {
        bool ok = true;
        Split(Bytes(length, 0), &ok);
        EXPECT_FALSE(ok) << length << " bytes";
    }
}

TEST(SplitForwardedArguments, NegativeCountIsRejected) {
    bool ok = true;
    Split(Payload(0xffffffffu, ""), &ok);
    EXPECT_FALSE(ok);
    Split(Payload(0x80000000u, "a"), &ok);
    EXPECT_FALSE(ok);
}

TEST(SplitForwardedArguments, CountLargerThanTheStringsPresentIsRejected) {
    bool ok = true;
    // Two strings present, three announced: the tail must not be taken for the third.
    Split(Payload(3, std::string("a\0bc\0", 5)), &ok);
    EXPECT_FALSE(ok);
    // A huge count in a small message must be refused before anything is sized by it.
    Split(Payload(0x7fffffffu, std::string("a\0", 2)), &ok);
    EXPECT_FALSE(ok);
    Split(Payload(1, ""), &ok);
    EXPECT_FALSE(ok);
}

TEST(SplitForwardedArguments, CountSmallerThanTheStringsPresentIsRejected) {
    bool ok = true;
    Split(Payload(1, std::string("a\0bc\0", 5)), &ok);
    EXPECT_FALSE(ok);
}

TEST(SplitForwardedArguments, StringWithoutItsNulIsRejected) {
    bool ok = true;
    // The message ends inside the string: no tail, no NUL.
    Bytes cut = {1, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    Split(cut, &ok);
    EXPECT_FALSE(ok);
    // The only NUL lies in the tail: the string itself is unterminated.
    Split(Payload(1, "abc"), &ok);
    EXPECT_FALSE(ok);
}

TEST(SplitForwardedArguments, TailMustBeFiveZeroBytes) {
    bool ok = true;
    Split(Payload(1, std::string("a\0", 2), 4), &ok);
    EXPECT_FALSE(ok);
    Split(Payload(1, std::string("a\0", 2), 6), &ok);
    EXPECT_FALSE(ok);
    Bytes nonzero = Payload(1, std::string("a\0", 2));
    nonzero.back() = 1;
    Split(nonzero, &ok);
    EXPECT_FALSE(ok);
}

TEST(SplitForwardedArguments, EmptyArgumentsAndZeroCountAreAccepted) {
    bool ok = false;
    EXPECT_EQ(Split(Bytes(9, 0), &ok), std::vector<std::string>{});
    EXPECT_TRUE(ok);
    EXPECT_EQ(Split(Payload(2, std::string("\0\0", 2)), &ok), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(ok);
}

TEST(SplitForwardedArguments, NullPayloadIsRejected) {
    int count = 5;
    EXPECT_EQ(SplitForwardedArguments(nullptr, 9, &count), nullptr);
    EXPECT_EQ(count, 5);
}

}  // namespace
