// Class and method ids over JVMTI and the class load synthesised on request,
// against a JVMTI environment and JNIEnv double that know two classes.
#include "platform/JvmtiClasses.h"
#include "platform/JvmtiClassesTestAccess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Class objects are small integers; weak references are the same values
// with a high bit, so IsSameObject can compare them. Class 2 has been
// unloaded: its weak reference answers null. What JVMTI hands out is
// malloc'ed, so a missed or doubled Deallocate shows under ASan.
jclass const kShop = reinterpret_cast<jclass>(0x100);
jclass const kGone = reinterpret_cast<jclass>(0x200);
jmethodID const kBuy = reinterpret_cast<jmethodID>(0x1001);
jmethodID const kSell = reinterpret_cast<jmethodID>(0x1002);
constexpr uintptr_t kWeak = 0x10000;

int localRefs = 0;

uintptr_t bare(jobject o) {
  return reinterpret_cast<uintptr_t>(o) & ~kWeak;
}

char* copy(const char* text) {
  return static_cast<char*>(
      std::memcpy(std::malloc(std::strlen(text) + 1), text, std::strlen(text) + 1));
}

struct Fake {
  jvmtiInterface_1_ functions{};
  jvmtiEnv jvmti{};
  JNINativeInterface_ jniFunctions{};
  JNIEnv jni{};
  Fake() {
    jvmti.functions = &functions;
    jni.functions = &jniFunctions;
    functions.Deallocate = [](jvmtiEnv*, unsigned char* p) JNICALL {
      std::free(p);
      return JVMTI_ERROR_NONE;
    };
    functions.GetClassSignature = [](jvmtiEnv*, jclass c, char** sig, char**) JNICALL {
      *sig = copy(bare(c) == 0x100 ? "Lapp/Shop;" : "Lapp/Gone;");
      return JVMTI_ERROR_NONE;
    };
    functions.GetClassMethods = [](jvmtiEnv*, jclass, jint* count, jmethodID** out) JNICALL {
      *count = 2;
      *out = reinterpret_cast<jmethodID*>(copy("0123456789abcdef"));
      (*out)[0] = kBuy;
      (*out)[1] = kSell;
      return JVMTI_ERROR_NONE;
    };
    functions.GetMethodName = [](jvmtiEnv*, jmethodID m, char** name, char** sig, char**) JNICALL {
      *name = copy(m == kBuy ? "buy" : "sell");
      *sig = copy(m == kBuy ? "()V" : "(I)V");
      return JVMTI_ERROR_NONE;
    };
    functions.GetMethodDeclaringClass = [](jvmtiEnv*, jmethodID, jclass* c) JNICALL {
      *c = kShop;
      localRefs++;
      return JVMTI_ERROR_NONE;
    };
    jniFunctions.NewWeakGlobalRef = [](JNIEnv*, jobject o) JNICALL {
      return reinterpret_cast<jweak>(reinterpret_cast<uintptr_t>(o) | kWeak);
    };
    jniFunctions.IsSameObject = [](JNIEnv*, jobject a, jobject b)
                                    JNICALL -> jboolean { return bare(a) == bare(b); };
    jniFunctions.NewLocalRef = [](JNIEnv*, jobject o) JNICALL -> jobject {
      if (bare(o) == 0x200) return nullptr;  // collected
      localRefs++;
      return reinterpret_cast<jobject>(bare(o));
    };
    jniFunctions.DeleteLocalRef = [](JNIEnv*, jobject) JNICALL { localRefs--; };
  }
};

struct Seen {
  jint type = 0;
  std::string name;
  std::vector<std::string> methods;
  jobjectID classId = 0;
};
Seen seen;

void record(JVMPI_Event* e) {
  seen.type = e->event_type;
  seen.name = e->u.class_load.class_name;
  seen.classId = e->u.class_load.class_id;
  for (jint i = 0; i < e->u.class_load.num_methods; i++) {
    const JVMPI_Method& m = e->u.class_load.methods[i];
    seen.methods.push_back(std::string(m.method_name) + m.method_signature + "#" +
                           std::to_string(m.method_id));
  }
}

TEST(JvmtiClasses, IdsAreStableAndARequestedLoadCarriesTheMethods) {
  jvmtiClassesReset();
  Fake fake;
  jobjectID shop = jvmtiClassIdOf(&fake.jni, kShop);
  jobjectID gone = jvmtiClassIdOf(&fake.jni, kGone);
  EXPECT_NE(shop, 0u);
  EXPECT_NE(shop, gone);
  EXPECT_EQ(jvmtiClassIdOf(&fake.jni, kShop), shop);

  EXPECT_EQ(jvmtiRequestClassLoad(&fake.jvmti, &fake.jni, shop, record), JVMPI_SUCCESS);
  EXPECT_EQ(seen.type, JVMPI_EVENT_CLASS_LOAD | JVMPI_REQUESTED_EVENT);
  EXPECT_EQ(seen.name, "app/Shop");
  EXPECT_EQ(seen.classId, shop);
  jmethodIDp buy = jvmtiMethodIdOf(kBuy);
  jmethodIDp sell = jvmtiMethodIdOf(kSell);
  EXPECT_NE(buy, sell);
  EXPECT_EQ(seen.methods, (std::vector<std::string>{"buy()V#" + std::to_string(buy),
                                                    "sell(I)V#" + std::to_string(sell)}));
  EXPECT_EQ(jvmtiMethodClass(&fake.jvmti, &fake.jni, sell), shop);

  // Unknown ids and a collected class give nothing.
  EXPECT_EQ(jvmtiMethodClass(&fake.jvmti, &fake.jni, sell + 1), 0u);
  EXPECT_EQ(jvmtiRequestClassLoad(&fake.jvmti, &fake.jni, gone, record), JVMPI_NOT_AVAILABLE);
  EXPECT_EQ(jvmtiRequestClassLoad(&fake.jvmti, &fake.jni, 999, record), JVMPI_NOT_AVAILABLE);
  EXPECT_EQ(localRefs, 0);
  jvmtiClassesReset();
}

}  // namespace
