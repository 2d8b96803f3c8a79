// The OnEvent property, the default call, and the object classes' defaults.
// (Which handler a read returns when both kinds are set: the lifecycle fuzz target.)
#include <cstring>

#include "Support.h"
#include "module/CPlugin.h"
#include "script/ScriptablePluginObject.h"
#include "tv/CPlTV.h"

namespace {

class Property : public TvObjectTest {
 protected:
  NSPlTV::CPlTV* Tv() { return static_cast<CPlugin*>(instance->pdata)->m_pTV; }
  // Reads OnEvent: the value (the caller releases it).
  NPVariant Read(bool ok = true) {
    NPVariant v = tb::Int(-777);
    EXPECT_EQ(tb::GetProperty(tv, "OnEvent", &v), ok);
    return v;
  }
};

TEST_F(Property, ReadBeforeAnyAssignmentIsUndefined) {
  NPVariant v = Read();
  EXPECT_EQ(v.type, NPVariantType_Void);
  EXPECT_TRUE(tb::HasProperty(tv, "OnEvent"));
  EXPECT_FALSE(tb::HasProperty(tv, "onEvent"));
  EXPECT_FALSE(tb::HasMethod(tv, "OnEvent"));
}

TEST_F(Property, FunctionHandlerReferences) {
  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
  EXPECT_EQ(Tv()->m_pEventCallbackObj, f);
  EXPECT_EQ(tb::RefCount(f), 2u);  // ours and the stored one
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
  EXPECT_EQ(tb::RefCount(f), 2u) << "assigning the same object twice holds it once";

  NPVariant v = Read();
  ASSERT_EQ(v.type, NPVariantType_Object);
  EXPECT_EQ(v.value.objectValue, f);
  EXPECT_EQ(tb::RefCount(f), 3u) << "each read hands the caller a reference";
  tb::ReleaseValue(&v);

  NPObject* g = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(g)));
  EXPECT_EQ(tb::RefCount(f), 1u) << "the replaced handler is released";
  EXPECT_EQ(tb::RefCount(g), 2u);
  DestroyInstance(instance);
  EXPECT_EQ(tb::RefCount(g), 1u) << "the handler is released with the instance";
}

// A copy of exactly the script's bytes, the old name freed.
TEST_F(Property, NameHandlerIsCopiedWithinItsLength) {
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String("first")));
  NPVariant longer = tb::String("handlerXYZ");
  longer.value.stringValue.UTF8Length = 7;
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", longer));
  EXPECT_STREQ(Tv()->m_pszEventCallbackName, "handler");
  EXPECT_NE(Tv()->m_pszEventCallbackName, longer.value.stringValue.UTF8Characters);
  EXPECT_EQ(tb::OpenAllocations(), 1u) << "the old name is freed";
}

TEST_F(Property, ValuesThatStoreNothing) {
  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String("kept")));
  struct Case {
    const char *what, *name;
    NPVariant value;
    bool ok;
  };
  const Case cases[] = {
      {"null", "OnEvent", tb::Null(), true},
      {"double", "OnEvent", tb::Double(1.5), true},
      {"null object", "OnEvent", tb::Object(nullptr), true},
      {"string for another name", "onevent", tb::String("other"), true},
      {"object for another name", "Handler", tb::Object(f), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(tb::SetProperty(tv, c.name, c.value), c.ok);
    EXPECT_EQ(Tv()->m_pEventCallbackObj, f);
    EXPECT_STREQ(Tv()->m_pszEventCallbackName, "kept");
    EXPECT_EQ(tb::RefCount(f), 2u);
  }
  NPVariant v = tb::Int(-777);
  EXPECT_FALSE(tb::GetProperty(tv, "Handler", &v));
  EXPECT_EQ(v.type, NPVariantType_Void);
}

TEST_F(Property, WithoutTvReadAndWriteFail) {
  NPObject* f = Function();
  NPVariant v = tb::Int(-777);
  EXPECT_FALSE(tb::GetProperty(orphan, "OnEvent", &v));
  EXPECT_EQ(v.type, NPVariantType_Int32) << "result touched";
  EXPECT_FALSE(tb::SetProperty(orphan, "OnEvent", tb::Object(f)));
  EXPECT_FALSE(tb::SetProperty(orphan, "OnEvent", tb::String("x")));
  EXPECT_EQ(tb::RefCount(f), 1u);
  EXPECT_TRUE(tb::HasProperty(orphan, "OnEvent"));
}

TEST_F(Property, NoMemoryForNames) {
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::String("first")));
  NPObject* f = Function();
  ASSERT_TRUE(tb::SetProperty(tv, "OnEvent", tb::Object(f)));

  // Reading: the copy fails, so the answer is as if no name were stored.
  tb::FailAllocationsAfter(0);
  NPVariant v = Read();
  tb::FailAllocationsAfter(-1);
  ASSERT_EQ(v.type, NPVariantType_Object);
  EXPECT_EQ(v.value.objectValue, f);
  tb::ReleaseValue(&v);

  // Writing: the old name is gone, nothing dangles, the call fails.
  tb::FailAllocationsAfter(0);
  EXPECT_FALSE(tb::SetProperty(tv, "OnEvent", tb::String("second")));
  tb::FailAllocationsAfter(-1);
  EXPECT_EQ(Tv()->m_pszEventCallbackName, nullptr);
  EXPECT_EQ(tb::OpenAllocations(), 0u);
  // Tear-down destroys the instance: a dangling name would be freed twice.
}

TEST_F(Property, DefaultCallAnswersOne) {
  struct Case {
    const char* what;
    NPObject* object;
    std::vector<NPVariant> args;
  };
  const Case cases[] = {{"arguments", tv, {tb::Int(3), tb::String("x")}}, {"TV unavailable", orphan, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NPVariant v = tb::Void();
    EXPECT_TRUE(tb::InvokeDefault(c.object, c.args, &v));
    ASSERT_EQ(v.type, NPVariantType_Int32);
    EXPECT_EQ(v.value.intValue, 1);
  }
  EXPECT_TRUE(Commands().empty());
}

TEST_F(Property, ObjectClassDefaults) {
  NPObject* made = NPNFuncs.createobject(instance, &sConstructablePluginObjectClass);
  ASSERT_NE(made, nullptr);
  held.push_back(made);
  EXPECT_EQ(static_cast<ScriptablePluginObjectBase*>(made)->m_NPP, instance);
  EXPECT_EQ(static_cast<ScriptablePluginObjectBase*>(orphan)->m_NPP, &nobody);

  // new on the constructable object yields another one, with the creation reference.
  NPVariant result = tb::Void();
  ASSERT_TRUE(tb::Construct(made, {tb::Int(1)}, &result));
  ASSERT_EQ(result.type, NPVariantType_Object);
  NPObject* another = result.value.objectValue;
  EXPECT_NE(another, made);
  EXPECT_EQ(another->_class, &sConstructablePluginObjectClass);
  EXPECT_EQ(tb::RefCount(another), 1u);
  tb::ReleaseValue(&result);
  EXPECT_FALSE(tb::IsLive(another));

  tb::FailObjectCreation(true);
  result = tb::Int(-777);
  EXPECT_FALSE(tb::Construct(made, {}, &result));
  EXPECT_EQ(result.type, NPVariantType_Int32);
  tb::FailObjectCreation(false);

  NPObject* f = Function();
  for (NPObject* object : {made, tv}) {
    SCOPED_TRACE(object == tv ? "TV object" : "constructable object");
    NPVariant v = tb::Int(-777);
    NPIdentifier* ids = nullptr;
    uint32_t count = 77;
    EXPECT_FALSE(tb::Enumerate(object, &ids, &count));
    EXPECT_EQ(count, 77u);
    EXPECT_FALSE(tb::RemoveProperty(object, "OnEvent"));
    if (object == made) {
      EXPECT_FALSE(tb::InvokeDefault(object, {}, &v));
      EXPECT_FALSE(tb::Invoke(object, "GetCountry", {}, &v));
      EXPECT_FALSE(tb::HasMethod(object, "GetCountry"));
      EXPECT_FALSE(tb::HasProperty(object, "OnEvent"));
      EXPECT_FALSE(tb::GetProperty(object, "OnEvent", &v));
      EXPECT_FALSE(tb::SetProperty(object, "OnEvent", tb::Object(f)));
    } else {
      EXPECT_FALSE(tb::Construct(object, {}, &v));
    }
    EXPECT_EQ(v.type, NPVariantType_Int32) << "result touched";
  }
  sConstructablePluginObjectClass.invalidate(made);  // no work, no crash
  ScriptablePluginObjectBase::_Deallocate(nullptr);
}

}  // namespace
