#include <gtest/gtest.h>
#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/launch_state.h"
#include "fake_platform.h"
#include "instance/forwarded_payload.h"
#include "instance/listener_delivery.h"

// The debugger output of the listener, collected for the tests in place of OutputDebugStringA.
static std::vector<std::string> g_debugLog;

void DebugLog(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int written = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_debugLog.push_back(written >= 0 ? text : "");
}

namespace {

// A VM just rich enough for the delivery: classes, byte arrays, strings, object arrays and the
// attach state of the one calling thread.
struct FakeObject {
    enum Kind { Class, ByteArray, String, ObjectArray } kind;
    std::string text;                  // class name, or bytes
    std::vector<std::string> strings;  // object array elements (strings only)
    bool deleted = false;
};

struct FakeVm {
    std::vector<FakeObject> objects;
    bool attached = false;
    int attachCalls = 0;
    int detachCalls = 0;
    bool attachFails = false;
    std::vector<std::string> knownClasses = {"java/lang/String", "com/example/SingleApp"};
    std::vector<std::string> classLookups;
    bool hasInitMethod = true;
    int byteArraysBeforeFailure = -1;  // NewByteArray fails (heap exhausted) after this many
    bool exceptionPending = false;
    int describes = 0;
    int clears = 0;
    struct Call {
        std::string className;
        std::vector<std::string> arguments;
        bool exceptionPending;
        bool attached;
    };
    std::vector<Call> calls;
    bool callThrows = false;
};

FakeVm* g_vm;
JNINativeInterface_ g_envFunctions;
JNIInvokeInterface_ g_vmFunctions;
JNIEnv_ g_env;
JavaVM_ g_javaVm;

jobject NewHandle(FakeObject object) {
    g_vm->objects.push_back(object);
    return reinterpret_cast<jobject>(static_cast<uintptr_t>(g_vm->objects.size()));
}

FakeObject& Deref(jobject handle) {
    size_t index = reinterpret_cast<uintptr_t>(handle);
    EXPECT_GE(index, 1u);
    EXPECT_LE(index, g_vm->objects.size());
    FakeObject& object = g_vm->objects.at(index - 1);
    EXPECT_FALSE(object.deleted) << "use of a deleted local reference";
    return object;
}

// The JNI rules the delivery must keep: calls only while attached, and (apart from the exception
// functions and DeleteLocalRef) none with an exception pending.
void ExpectCallable(bool exceptionAllowed = false) {
    EXPECT_TRUE(g_vm->attached) << "JNI call on a thread that is not attached";
    if (!exceptionAllowed) {
        EXPECT_FALSE(g_vm->exceptionPending) << "JNI call with an exception pending";
    }
}

jclass JNICALL FakeFindClass(JNIEnv*, const char* name) {
    ExpectCallable();
    g_vm->classLookups.push_back(name);
    for (const auto& known : g_vm->knownClasses) {
        if (known == name) return static_cast<jclass>(NewHandle({FakeObject::Class, name, {}}));
    }
    g_vm->exceptionPending = true;  // NoClassDefFoundError
    return nullptr;
}

jthrowable JNICALL FakeExceptionOccurred(JNIEnv*) {
    ExpectCallable(true);
    return g_vm->exceptionPending ? reinterpret_cast<jthrowable>(static_cast<uintptr_t>(0xdead)) : nullptr;
}

jboolean JNICALL FakeExceptionCheck(JNIEnv*) {
    ExpectCallable(true);
    return g_vm->exceptionPending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FakeExceptionDescribe(JNIEnv*) {
    ExpectCallable(true);
    g_vm->describes++;
    g_vm->exceptionPending = false;
}

void JNICALL FakeExceptionClear(JNIEnv*) {
    ExpectCallable(true);
    g_vm->clears++;
    g_vm->exceptionPending = false;
}

void JNICALL FakeDeleteLocalRef(JNIEnv*, jobject handle) {
    ExpectCallable(true);
    if (handle == nullptr) return;
    Deref(handle).deleted = true;
}

jmethodID JNICALL FakeGetStaticMethodID(JNIEnv*, jclass type, const char* name, const char* signature) {
    ExpectCallable();
    EXPECT_EQ(Deref(type).kind, FakeObject::Class);
    if (g_vm->hasInitMethod && strcmp(name, "initSingleApplication") == 0 &&
        strcmp(signature, "([Ljava/lang/String;)V") == 0) {
        return reinterpret_cast<jmethodID>(static_cast<uintptr_t>(0x51));
    }
    g_vm->exceptionPending = true;  // NoSuchMethodError
    return nullptr;
}

jmethodID JNICALL FakeGetMethodID(JNIEnv*, jclass type, const char* name, const char* signature) {
    ExpectCallable();
    EXPECT_EQ(Deref(type).text, "java/lang/String");
    EXPECT_STREQ(name, "<init>");
    EXPECT_STREQ(signature, "([B)V");
    return reinterpret_cast<jmethodID>(static_cast<uintptr_t>(0x52));
}

jbyteArray JNICALL FakeNewByteArray(JNIEnv*, jsize length) {
    ExpectCallable();
    if (g_vm->byteArraysBeforeFailure == 0) {
        g_vm->exceptionPending = true;  // OutOfMemoryError
        return nullptr;
    }
    if (g_vm->byteArraysBeforeFailure > 0) g_vm->byteArraysBeforeFailure--;
    return static_cast<jbyteArray>(NewHandle({FakeObject::ByteArray, std::string(length, '\0'), {}}));
}

void JNICALL FakeSetByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length, const jbyte* bytes) {
    ExpectCallable();
    FakeObject& object = Deref(array);
    ASSERT_LE(static_cast<size_t>(start + length), object.text.size());
    object.text.replace(start, length, reinterpret_cast<const char*>(bytes), length);
}

jobject JNICALL FakeNewObjectV(JNIEnv*, jclass, jmethodID, va_list args) {
    ExpectCallable();
    jobject bytes = va_arg(args, jobject);
    return NewHandle({FakeObject::String, Deref(bytes).text, {}});
}

jobjectArray JNICALL FakeNewObjectArray(JNIEnv*, jsize length, jclass elementClass, jobject initial) {
    ExpectCallable();
    EXPECT_EQ(Deref(elementClass).text, "java/lang/String");
    EXPECT_EQ(initial, nullptr);
    return static_cast<jobjectArray>(NewHandle({FakeObject::ObjectArray, "", std::vector<std::string>(length)}));
}

void JNICALL FakeSetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
    ExpectCallable();
    FakeObject& object = Deref(array);
    ASSERT_LT(static_cast<size_t>(index), object.strings.size());
    object.strings[index] = Deref(value).text;
}

void JNICALL FakeCallStaticVoidMethodV(JNIEnv*, jclass type, jmethodID method, va_list args) {
    FakeVm::Call call;
    call.exceptionPending = g_vm->exceptionPending;
    call.attached = g_vm->attached;
    call.className = Deref(type).text;
    EXPECT_EQ(method, reinterpret_cast<jmethodID>(static_cast<uintptr_t>(0x51)));
    jobject array = va_arg(args, jobject);
    call.arguments = Deref(array).strings;
    g_vm->calls.push_back(call);
    if (g_vm->callThrows) g_vm->exceptionPending = true;
}

jint JNICALL FakeAttachCurrentThread(JavaVM*, void** env, void* arguments) {
    EXPECT_EQ(arguments, nullptr);
    g_vm->attachCalls++;
    if (g_vm->attachFails) return JNI_ERR;
    g_vm->attached = true;
    *env = &g_env;
    return JNI_OK;
}

jint JNICALL FakeDetachCurrentThread(JavaVM*) {
    g_vm->detachCalls++;
    g_vm->attached = false;
    return JNI_OK;
}

jint JNICALL FakeGetCreatedJavaVms(JavaVM** vms, jsize size, jsize* count) {
    EXPECT_GE(size, 1);
    vms[0] = &g_javaVm;
    *count = 1;
    return JNI_OK;
}

class InstanceDeliveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        g_debugLog.clear();
        g_vm = &vm;
        g_envFunctions = {};
        g_envFunctions.FindClass = FakeFindClass;
        g_envFunctions.ExceptionOccurred = FakeExceptionOccurred;
        g_envFunctions.ExceptionCheck = FakeExceptionCheck;
        g_envFunctions.ExceptionDescribe = FakeExceptionDescribe;
        g_envFunctions.ExceptionClear = FakeExceptionClear;
        g_envFunctions.DeleteLocalRef = FakeDeleteLocalRef;
        g_envFunctions.GetStaticMethodID = FakeGetStaticMethodID;
        g_envFunctions.GetMethodID = FakeGetMethodID;
        g_envFunctions.NewByteArray = FakeNewByteArray;
        g_envFunctions.SetByteArrayRegion = FakeSetByteArrayRegion;
        g_envFunctions.NewObjectV = FakeNewObjectV;
        g_envFunctions.NewObjectArray = FakeNewObjectArray;
        g_envFunctions.SetObjectArrayElement = FakeSetObjectArrayElement;
        g_envFunctions.CallStaticVoidMethodV = FakeCallStaticVoidMethodV;
        g_env.functions = &g_envFunctions;
        g_vmFunctions = {};
        g_vmFunctions.AttachCurrentThread = FakeAttachCurrentThread;
        g_vmFunctions.DetachCurrentThread = FakeDetachCurrentThread;
        g_javaVm.functions = &g_vmFunctions;
        g_launch.vmEntryPoints.getCreatedJavaVms = FakeGetCreatedJavaVms;
    }

    void TearDown() override {
        g_vm = nullptr;
        ResetFakePlatformAndState();
    }

    // Delivers a copy sized exactly like the received message; returns what went to standard output.
    std::string Deliver(const std::vector<unsigned char>& payload, uintptr_t tag = kForwardTag) {
        std::vector<unsigned char> received(payload);
        testing::internal::CaptureStdout();
        DeliverForwardedPayload("com.example.SingleApp", tag, received.empty() ? nullptr : received.data(),
                                received.size());
        return testing::internal::GetCapturedStdout();
    }

    std::vector<unsigned char> Built(std::vector<std::string> arguments) {
        std::vector<char*> pointers;
        for (auto& text : arguments) pointers.push_back(&text[0]);
        uint32_t size = 0;
        unsigned char* payload = BuildForwardedPayload(static_cast<int>(pointers.size()), pointers.data(), &size);
        std::vector<unsigned char> bytes(payload, payload + size);
        free(payload);
        return bytes;
    }

    // Object arrays still referenced after the delivery (each request must release its own).
    int LiveObjectArrays() const {
        int live = 0;
        for (const auto& object : vm.objects) live += object.kind == FakeObject::ObjectArray && !object.deleted;
        return live;
    }

    FakeVm vm;
};

TEST_F(InstanceDeliveryTest, ArgumentsReachInitSingleApplicationWhileAttached) {
    std::string out = Deliver(Built({"a", "", "\xe9t\xe9"}));
    EXPECT_EQ(out, "Callback!!!\n");
    ASSERT_EQ(vm.calls.size(), 1u);
    EXPECT_EQ(vm.calls[0].className, "com/example/SingleApp");
    EXPECT_EQ(vm.calls[0].arguments, (std::vector<std::string>{"a", "", "\xe9t\xe9"}));
    EXPECT_TRUE(vm.calls[0].attached);
    EXPECT_FALSE(vm.calls[0].exceptionPending);
    EXPECT_EQ(vm.attachCalls, 1);
    EXPECT_EQ(vm.detachCalls, 1);
    EXPECT_FALSE(vm.attached);
    EXPECT_EQ(LiveObjectArrays(), 0);
    EXPECT_TRUE(g_debugLog.empty());
}

TEST_F(InstanceDeliveryTest, NoArgumentsGiveAnEmptyArray) {
    Deliver(Built({}));
    ASSERT_EQ(vm.calls.size(), 1u);
    EXPECT_TRUE(vm.calls[0].arguments.empty());
    EXPECT_EQ(vm.detachCalls, 1);
}

TEST_F(InstanceDeliveryTest, OtherTagsAndMissingDataAreIgnored) {
    EXPECT_EQ(Deliver(Built({"a"}), 0), "Callback!!!\n");
    EXPECT_EQ(Deliver(Built({"a"}), 0xCAFF), "Callback!!!\n");
    EXPECT_EQ(Deliver({}), "Callback!!!\n");
    EXPECT_TRUE(vm.calls.empty());
    EXPECT_EQ(vm.attachCalls, 0);
    EXPECT_EQ(vm.detachCalls, 0);
}

TEST_F(InstanceDeliveryTest, MalformedPayloadIsDroppedBeforeTheVmIsTouched) {
    std::vector<std::vector<unsigned char>> malformed = {
        {1, 0, 0},                                       // shorter than the count
        {0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0},         // negative count
        {3, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0},             // count larger than the strings
        {1, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g'}, // string without its NUL
    };
    for (const auto& payload : malformed) EXPECT_EQ(Deliver(payload), "Callback!!!\n");
    EXPECT_TRUE(vm.calls.empty());
    EXPECT_EQ(vm.attachCalls, 0);
    // The listener goes on: a valid request afterwards is delivered.
    Deliver(Built({"after"}));
    ASSERT_EQ(vm.calls.size(), 1u);
    EXPECT_EQ(vm.calls[0].arguments, std::vector<std::string>{"after"});
}

TEST_F(InstanceDeliveryTest, FailedAttachStillDetachesAndDropsTheRequest) {
    vm.attachFails = true;
    Deliver(Built({"a"}));
    EXPECT_TRUE(vm.calls.empty());
    EXPECT_EQ(vm.detachCalls, 1);
    EXPECT_EQ(g_debugLog, std::vector<std::string>{"Cannot attach thread"});
}

TEST_F(InstanceDeliveryTest, MissingClassIsReportedAndCleared) {
    vm.knownClasses = {"java/lang/String"};
    Deliver(Built({"a"}));
    EXPECT_TRUE(vm.calls.empty());
    EXPECT_EQ(g_debugLog, std::vector<std::string>{"Cannot Find Class com.example.SingleApp\n"});
    EXPECT_FALSE(vm.exceptionPending);
    EXPECT_EQ(vm.detachCalls, 1);
}

TEST_F(InstanceDeliveryTest, MissingMethodIsReportedAndTheExceptionCleared) {
    vm.hasInitMethod = false;
    Deliver(Built({"a"}));
    EXPECT_TRUE(vm.calls.empty());
    EXPECT_EQ(g_debugLog, std::vector<std::string>{"Cannot find method SINGLEINSTANCE_METHOD\n"});
    EXPECT_FALSE(vm.exceptionPending);
    EXPECT_EQ(vm.detachCalls, 1);
}

TEST_F(InstanceDeliveryTest, ArrayThatCannotBeBuiltIsNeverPassedOnWithAnExceptionPending) {
    vm.byteArraysBeforeFailure = 1;  // the second string exhausts the heap
    Deliver(Built({"a", "b", "c"}));
    EXPECT_TRUE(vm.calls.empty());
    EXPECT_FALSE(vm.exceptionPending);
    EXPECT_EQ(vm.describes, 1);
    EXPECT_EQ(LiveObjectArrays(), 0);
    EXPECT_EQ(vm.detachCalls, 1);
    // The next request is delivered normally.
    vm.byteArraysBeforeFailure = -1;
    Deliver(Built({"next"}));
    ASSERT_EQ(vm.calls.size(), 1u);
    EXPECT_FALSE(vm.calls[0].exceptionPending);
}

TEST_F(InstanceDeliveryTest, NoVmMeansNothingIsAttached) {
    g_launch.vmEntryPoints.getCreatedJavaVms = nullptr;
    EXPECT_EQ(Deliver(Built({"a"})), "Callback!!!\n");
    EXPECT_EQ(vm.attachCalls, 0);
    EXPECT_EQ(vm.detachCalls, 0);
}

}  // namespace
