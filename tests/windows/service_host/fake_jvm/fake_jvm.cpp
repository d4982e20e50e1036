// The stand-in jvm.dll for the Wine tests of the service host. It exports
// JNI_CreateJavaVM and implements only the invocation and JNI functions the
// host is meant to call; every other slot of both tables is null, so an
// unexpected call crashes the host instead of passing unnoticed. Every call
// is journaled (journal.h), and the agent class acts out the scenario named
// in fake_jvm.cfg beside the DLL (README.md).

#define _JNI_IMPLEMENTATION_  // jni.h then declares JNI_CreateJavaVM as exported
#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "journal.h"

namespace {

const char kAgentClass[] = "com/torvik/pravend/coralind/agent/ManagementAgent";
const char kStringClass[] = "java/lang/String";

enum class Scenario { Blocking, Returns, NoCleanup, NoMain, NoClass, Refuse, AttachFails, MainThrows, CleanupThrows,
                      GivesUp, Exits };

struct ScenarioName {
  const char* name;
  Scenario scenario;
};
const ScenarioName kScenarios[] = {
    {"blocking", Scenario::Blocking},   {"returns", Scenario::Returns},   {"no_cleanup", Scenario::NoCleanup},
    {"no_main", Scenario::NoMain},      {"no_class", Scenario::NoClass},  {"refuse", Scenario::Refuse},
    {"attach_fails", Scenario::AttachFails}, {"main_throws", Scenario::MainThrows},
    {"cleanup_throws", Scenario::CleanupThrows}, {"gives_up", Scenario::GivesUp}, {"exits", Scenario::Exits}};

struct Settings {
  Scenario scenario = Scenario::Blocking;
  std::string scenarioName = "blocking";
  DWORD createMs = 0;   // JNI_CreateJavaVM sleeps this long before it returns
  DWORD cleanupMs = 0;  // cleanup sleeps this long before it releases main and returns
  DWORD mainMs = 0;     // "returns": main sleeps this long before it returns
  bool consoleHandler = true;  // JNI_CreateJavaVM registers a JVM's console handler
  std::string mainMessage = "agent failed";  // main_throws: the exception's message (UTF-8)
  int exitStatus = 3;          // "exits": the status of the agent's System.exit
  unsigned long outputBytes = 0;  // main first writes this much to standard output
};
Settings settings;

// What the host gets as jclass, jstring, jobjectArray and jthrowable.
enum class Kind { Class, String, Array, Throwable };
struct FakeObject {
  Kind kind;
  std::string text;  // class name, string contents or exception class
  std::vector<jobject> elements;
  std::string message;  // an exception's message
};

// An exception left pending on a thread, as a real JVM would leave it.
struct Pending {
  std::string exceptionClass;  // slash form
  std::string message;
};

struct FakeMethod {
  const char* name;
  const char* signature;
};

FakeObject stringClass{Kind::Class, kStringClass, {}, {}};
FakeObject agentClass{Kind::Class, kAgentClass, {}, {}};
FakeMethod mainMethod{"main", "([Ljava/lang/String;)V"};
FakeMethod cleanupMethod{"cleanup", "()V"};
FakeMethod toStringMethod{"toString", "()Ljava/lang/String;"};  // of any object this JVM knows

// State shared by the host's threads, under stateLock.
SRWLOCK stateLock = SRWLOCK_INIT;
std::vector<std::unique_ptr<FakeObject>> createdObjects;  // live until the process ends
std::set<const void*> knownObjects;
std::set<DWORD> attachedThreads;
std::map<DWORD, Pending> pendingExceptions;  // by thread id
DWORD creatorThread = 0;
bool vmCreated = false;

// Set when cleanup has run: a blocking main returns.
HANDLE cleanupDone = nullptr;

JNINativeInterface_ nativeTable{};
JNIInvokeInterface_ invokeTable{};
JNIEnv_ theEnv{};
JavaVM_ theVm{};

class StateGuard {
 public:
  StateGuard() { AcquireSRWLockExclusive(&stateLock); }
  ~StateGuard() { ReleaseSRWLockExclusive(&stateLock); }
  StateGuard(const StateGuard&) = delete;
  StateGuard& operator=(const StateGuard&) = delete;
};

void register_known(const void* object) {
  StateGuard guard;
  knownObjects.insert(object);
}

FakeObject* new_object(Kind kind, const std::string& text) {
  StateGuard guard;
  createdObjects.push_back(std::make_unique<FakeObject>(FakeObject{kind, text, {}, {}}));
  FakeObject* object = createdObjects.back().get();
  knownObjects.insert(object);
  return object;
}

// The object behind a handle, or null for null and for anything this JVM
// never handed out.
FakeObject* lookup(const void* handle) {
  StateGuard guard;
  return knownObjects.count(handle) ? static_cast<FakeObject*>(const_cast<void*>(handle)) : nullptr;
}

const char* describe_class(jclass handle) {
  if (!handle) return "null";
  const FakeObject* object = lookup(handle);
  return object && object->kind == Kind::Class ? object->text.c_str() : "invalid";
}

const char* describe_method(jmethodID method) {
  if (!method) return "null";
  if (method == reinterpret_cast<jmethodID>(&mainMethod)) return mainMethod.name;
  if (method == reinterpret_cast<jmethodID>(&cleanupMethod)) return cleanupMethod.name;
  if (method == reinterpret_cast<jmethodID>(&toStringMethod)) return toStringMethod.name;
  return "invalid";
}

void throw_pending(const char* exceptionClass, const std::string& message) {
  StateGuard guard;
  pendingExceptions[GetCurrentThreadId()] = Pending{exceptionClass, message};
}

std::string dotted(std::string name) {
  for (char& c : name)
    if (c == '/') c = '.';
  return name;
}

bool exception_pending() {
  StateGuard guard;
  return pendingExceptions.count(GetCurrentThreadId()) != 0;
}

// A real JVM forbids most JNI calls while an exception is pending.
void note_pending(const char* function) {
  if (exception_pending()) journal("call_with_pending_exception fn=%s", function);
}

bool is_attached() {
  StateGuard guard;
  return attachedThreads.count(GetCurrentThreadId()) != 0;
}

// Every JNI call must come from an attached thread.
void note_attached(const char* function) {
  if (!is_attached()) journal("call_from_unattached_thread fn=%s", function);
}

void enter(const char* function) {
  note_attached(function);
  note_pending(function);
}

// ---- the host's hooks (the extraInfo of the options "vfprintf", "exit", "abort") and the agent's output ----

jint(JNICALL* vfprintfHook)(FILE*, const char*, va_list) = nullptr;
void(JNICALL* exitHook)(jint) = nullptr;
void(JNICALL* abortHook)() = nullptr;

void take_hook(const std::string& name, void* hook) {
  if (name == "vfprintf") vfprintfHook = reinterpret_cast<decltype(vfprintfHook)>(hook);
  if (name == "exit") exitHook = reinterpret_cast<decltype(exitHook)>(hook);
  if (name == "abort") abortHook = reinterpret_cast<decltype(abortHook)>(hook);
}

// A message of the JVM: through the host's hook when it gave one, else on standard error.
void jvm_says(const char* format, ...) {
  va_list args;
  va_start(args, format);
  journal("vfprintf_hook given=%d", vfprintfHook ? 1 : 0);
  vfprintfHook ? vfprintfHook(stderr, format, args) : std::vfprintf(stderr, format, args);
  va_end(args);
}

// As System.out, to the standard output handle: a first line, then lines of x, output_bytes in all.
void agent_prints() {
  std::string text = "stand-in agent output\r\n";
  while (text.size() < settings.outputBytes) text += std::string(1022, 'x') + "\r\n";
  text.resize(settings.outputBytes);
  DWORD written = 0;
  if (!text.empty())
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// ---- the scripted agent ----

// An exception out of the agent's method, left pending as the JVM leaves it.
void agent_throws(const char* method, const char* message) {
  throw_pending("java/lang/IllegalStateException", message);
  journal("%s_threw", method);
}

void run_main() {
  journal("main_entered scenario=%s", settings.scenarioName.c_str());
  agent_prints();
  const Scenario s = settings.scenario;
  if (s == Scenario::Returns || s == Scenario::MainThrows || s == Scenario::Exits)
    Sleep(settings.mainMs);
  else
    WaitForSingleObject(cleanupDone, INFINITE);
  if (s == Scenario::Exits) {  // as System.exit(n): the exit hook, then the end of the process with n
    journal("exit_hook given=%d status=%d", exitHook ? 1 : 0, settings.exitStatus);
    if (exitHook) exitHook(settings.exitStatus);
    ExitProcess(static_cast<UINT>(settings.exitStatus));
  }
  if (s == Scenario::MainThrows)
    agent_throws("main", settings.mainMessage.c_str());
  else
    journal("main_returned");
}

void run_cleanup() {
  journal("cleanup_entered cleanup_ms=%lu", settings.cleanupMs);
  Sleep(settings.cleanupMs);
  SetEvent(cleanupDone);
  if (settings.scenario == Scenario::CleanupThrows)
    agent_throws("cleanup", "cleanup failed");
  else
    journal("cleanup_returned");
}

void call_static_void(const char* via, jclass cls, jmethodID method, bool hasArgument, jobject argument) {
  enter(via);
  std::string argumentText = "none";
  if (hasArgument) {
    const FakeObject* array = lookup(argument);
    if (!argument)
      argumentText = "null";
    else if (array && array->kind == Kind::Array)
      argumentText = std::to_string(array->elements.size());
    else
      argumentText = "invalid";
  }
  journal("call_static_void via=%s class=%s method=%s args=%s", via, describe_class(cls), describe_method(method),
          argumentText.c_str());
  if (lookup(cls) != &agentClass) return;
  if (method == reinterpret_cast<jmethodID>(&mainMethod)) run_main();
  if (method == reinterpret_cast<jmethodID>(&cleanupMethod)) run_cleanup();
}

// ---- JNIEnv functions ----

jclass JNICALL FindClass(JNIEnv*, const char* name) {
  enter("FindClass");
  FakeObject* found = nullptr;
  if (name && std::string(name) == kStringClass) found = &stringClass;
  if (name && std::string(name) == kAgentClass && settings.scenario != Scenario::NoClass) found = &agentClass;
  journal("find_class name=%s found=%d", name ? name : "(null)", found ? 1 : 0);
  if (!found) throw_pending("java/lang/NoClassDefFoundError", name ? name : "");
  return reinterpret_cast<jclass>(found);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* sig) {
  enter("GetStaticMethodID");
  const std::string method = name ? name : "(null)";
  const std::string signature = sig ? sig : "(null)";
  FakeMethod* found = nullptr;
  if (lookup(cls) == &agentClass) {
    if (method == mainMethod.name && signature == mainMethod.signature && settings.scenario != Scenario::NoMain)
      found = &mainMethod;
    if (method == cleanupMethod.name && signature == cleanupMethod.signature &&
        settings.scenario != Scenario::NoCleanup)
      found = &cleanupMethod;
  }
  journal("get_static_method class=%s name=%s sig=%s found=%d", describe_class(cls), method.c_str(),
          signature.c_str(), found ? 1 : 0);
  // HotSpot's message names the method as a static one of the class.
  if (!found)
    throw_pending("java/lang/NoSuchMethodError",
                  "static L" + std::string(describe_class(cls)) + ";." + method + signature);
  return reinterpret_cast<jmethodID>(found);
}

void JNICALL CallStaticVoidMethod(JNIEnv*, jclass cls, jmethodID method, ...) {
  // main(String[]) takes one reference; cleanup() takes none, so only read
  // an argument where the method has one.
  jobject argument = nullptr;
  const bool hasArgument = method == reinterpret_cast<jmethodID>(&mainMethod);
  if (hasArgument) {
    va_list args;
    va_start(args, method);
    argument = va_arg(args, jobject);
    va_end(args);
  }
  call_static_void("CallStaticVoidMethod", cls, method, hasArgument, argument);
}

void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass cls, jmethodID method, va_list args) {
  jobject argument = nullptr;
  const bool hasArgument = method == reinterpret_cast<jmethodID>(&mainMethod);
  if (hasArgument) argument = va_arg(args, jobject);
  call_static_void("CallStaticVoidMethodV", cls, method, hasArgument, argument);
}

void JNICALL CallStaticVoidMethodA(JNIEnv*, jclass cls, jmethodID method, const jvalue* args) {
  const bool hasArgument = method == reinterpret_cast<jmethodID>(&mainMethod);
  call_static_void("CallStaticVoidMethodA", cls, method, hasArgument, hasArgument && args ? args[0].l : nullptr);
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* utf) {
  enter("NewStringUTF");
  journal("new_string_utf text=%s", utf ? utf : "(null)");
  if (!utf) return nullptr;
  return reinterpret_cast<jstring>(new_object(Kind::String, utf));
}

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass elementClass, jobject initial) {
  enter("NewObjectArray");
  journal("new_object_array length=%ld element_class=%s initial=%s", static_cast<long>(length),
          describe_class(elementClass), initial ? "object" : "null");
  if (length < 0 || !lookup(elementClass)) return nullptr;
  FakeObject* array = new_object(Kind::Array, describe_class(elementClass));
  array->elements.assign(static_cast<size_t>(length), initial);
  return reinterpret_cast<jobjectArray>(array);
}

void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray arrayHandle, jsize index, jobject value) {
  enter("SetObjectArrayElement");
  FakeObject* array = lookup(arrayHandle);
  const FakeObject* element = lookup(value);
  const bool valid = array && array->kind == Kind::Array && index >= 0 &&
                     static_cast<size_t>(index) < array->elements.size();
  journal("set_object_array_element index=%ld valid=%d text=%s", static_cast<long>(index), valid ? 1 : 0,
          element && element->kind == Kind::String ? element->text.c_str() : "(not a string)");
  if (valid) array->elements[static_cast<size_t>(index)] = value;
  else throw_pending("java/lang/ArrayIndexOutOfBoundsException", "Index " + std::to_string(index));
}

jboolean JNICALL ExceptionCheck(JNIEnv*) {
  const bool pending = exception_pending();
  journal("exception_check result=%d", pending ? 1 : 0);
  return pending ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
  Pending pending;
  {
    StateGuard guard;
    auto found = pendingExceptions.find(GetCurrentThreadId());
    if (found != pendingExceptions.end()) pending = found->second;
  }
  const std::string& exceptionClass = pending.exceptionClass;
  journal("exception_occurred class=%s", exceptionClass.empty() ? "null" : exceptionClass.c_str());
  if (exceptionClass.empty()) return nullptr;
  FakeObject* thrown = new_object(Kind::Throwable, exceptionClass);
  thrown->message = pending.message;
  return reinterpret_cast<jthrowable>(thrown);
}

// The class of an exception (what the host asks to describe one).
jclass JNICALL GetObjectClass(JNIEnv*, jobject object) {
  enter("GetObjectClass");
  const FakeObject* found = lookup(object);
  std::string className = "invalid";
  if (found && found->kind == Kind::Throwable) className = found->text;
  if (found && found->kind == Kind::String) className = kStringClass;
  journal("get_object_class class=%s", className.c_str());
  if (className == "invalid") return nullptr;
  return reinterpret_cast<jclass>(new_object(Kind::Class, className));
}

// Only toString()Ljava/lang/String; is known, on every class.
jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* sig) {
  enter("GetMethodID");
  const std::string method = name ? name : "(null)";
  const std::string signature = sig ? sig : "(null)";
  const bool found = lookup(cls) && method == toStringMethod.name && signature == toStringMethod.signature;
  journal("get_method class=%s name=%s sig=%s found=%d", describe_class(cls), method.c_str(), signature.c_str(),
          found ? 1 : 0);
  if (!found) throw_pending("java/lang/NoSuchMethodError", method);
  return found ? reinterpret_cast<jmethodID>(&toStringMethod) : nullptr;
}

// toString of an exception: "<class in dotted form>: <message>", as Throwable's.
jobject call_object(const char* via, jobject object, jmethodID method) {
  enter(via);
  const FakeObject* target = lookup(object);
  journal("call_object via=%s method=%s", via, describe_method(method));
  if (!target || method != reinterpret_cast<jmethodID>(&toStringMethod)) return nullptr;
  std::string text = target->text;
  if (target->kind == Kind::Throwable) {
    text = dotted(text);
    if (!target->message.empty()) text += ": " + target->message;
  }
  return reinterpret_cast<jobject>(new_object(Kind::String, text));
}

jobject JNICALL CallObjectMethod(JNIEnv*, jobject object, jmethodID method, ...) {
  return call_object("CallObjectMethod", object, method);
}

jobject JNICALL CallObjectMethodV(JNIEnv*, jobject object, jmethodID method, va_list) {
  return call_object("CallObjectMethodV", object, method);
}

jobject JNICALL CallObjectMethodA(JNIEnv*, jobject object, jmethodID method, const jvalue*) {
  return call_object("CallObjectMethodA", object, method);
}

// A string's characters as Java holds them, UTF-16 (this JVM keeps them in UTF-8); false for anything but its strings.
bool utf16_of(jstring text, std::wstring& wide) {
  const FakeObject* found = lookup(text);
  if (!found || found->kind != Kind::String) return false;
  const int size = static_cast<int>(found->text.size());
  wide.resize(found->text.size());
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, found->text.data(), size, &wide[0], size)));
  return true;
}

jsize JNICALL GetStringLength(JNIEnv*, jstring text) {
  enter("GetStringLength");
  std::wstring wide;
  journal("get_string_length valid=%d", utf16_of(text, wide) ? 1 : 0);
  return static_cast<jsize>(wide.size());
}

const jchar* JNICALL GetStringChars(JNIEnv*, jstring text, jboolean* isCopy) {  // a copy, freed by ReleaseStringChars
  enter("GetStringChars");
  std::wstring wide;
  const bool valid = utf16_of(text, wide);
  journal("get_string_chars valid=%d", valid ? 1 : 0);
  if (isCopy) *isCopy = JNI_TRUE;
  if (!valid) return nullptr;
  jchar* copy = new jchar[wide.size() + 1];
  std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, copy);  // the terminating zero too
  return copy;
}

void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar* chars) {
  enter("ReleaseStringChars");
  journal("release_string_chars");
  delete[] chars;
}

// Makes a thrown object (one that ExceptionOccurred handed out) pending again.
jint JNICALL Throw(JNIEnv*, jthrowable object) {
  enter("Throw");
  const FakeObject* thrown = lookup(object);
  const bool valid = thrown && thrown->kind == Kind::Throwable;
  journal("throw class=%s", valid ? thrown->text.c_str() : "invalid");
  if (!valid) return JNI_ERR;
  throw_pending(thrown->text.c_str(), thrown->message);
  return JNI_OK;
}

void JNICALL ExceptionClear(JNIEnv*) {
  journal("exception_clear");
  StateGuard guard;
  pendingExceptions.erase(GetCurrentThreadId());
}

// ---- invocation interface ----

jint JNICALL DestroyJavaVM(JavaVM*) {
  journal("destroy_vm");
  return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void* args) {
  const DWORD thread = GetCurrentThreadId();
  bool refuse = false;
  bool already = false;
  {
    StateGuard guard;
    refuse = settings.scenario == Scenario::AttachFails && thread != creatorThread;
    already = attachedThreads.count(thread) != 0;
    if (!refuse) attachedThreads.insert(thread);
  }
  const jint result = refuse ? JNI_ERR : JNI_OK;
  journal("attach result=%ld args=%s already=%d", static_cast<long>(result), args ? "object" : "null",
          already ? 1 : 0);
  if (penv) *penv = refuse ? nullptr : &theEnv;
  return result;
}

// An exception still pending when a thread detaches is uncaught: the JVM
// reports it on standard error, as Thread's default handler does (the stand-in
// gives no stack trace).
jint JNICALL DetachCurrentThread(JavaVM*) {
  bool wasAttached = false;
  Pending uncaught;
  {
    StateGuard guard;
    wasAttached = attachedThreads.erase(GetCurrentThreadId()) != 0;
    uncaught = pendingExceptions[GetCurrentThreadId()];
    pendingExceptions.erase(GetCurrentThreadId());
  }
  const bool pending = !uncaught.exceptionClass.empty();
  journal("detach result=0 attached=%d pending_exception=%d", wasAttached ? 1 : 0, pending ? 1 : 0);
  if (pending)
    std::fprintf(stderr, "Exception in thread \"Thread-%lu\" %s: %s\n", GetCurrentThreadId(),
                 dotted(uncaught.exceptionClass).c_str(), uncaught.message.c_str());
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM*, void** penv, jint version) {
  const bool attached = is_attached();
  const jint result = attached ? JNI_OK : JNI_EDETACHED;
  journal("get_env version=0x%08lx result=%ld", static_cast<unsigned long>(version), static_cast<long>(result));
  if (penv) *penv = attached ? &theEnv : nullptr;
  return result;
}

// ---- setup ----

std::string trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

DWORD to_ms(const std::string& value) { return static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10)); }

void read_settings() {
  const std::string path = module_folder() + "fake_jvm.cfg";
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    const std::string key = trim(line.substr(0, equals));
    const std::string value = equals == std::string::npos ? std::string() : trim(line.substr(equals + 1));
    bool known = true;
    if (key == "scenario") {
      known = false;
      for (const ScenarioName& entry : kScenarios) {
        if (value == entry.name) {
          settings.scenario = entry.scenario;
          settings.scenarioName = entry.name;
          known = true;
        }
      }
    } else if (key == "create_ms") {
      settings.createMs = to_ms(value);
    } else if (key == "cleanup_ms") {
      // "never": cleanup never returns (nor releases main), as an agent stuck in a deadlock.
      settings.cleanupMs = value == "never" ? INFINITE : to_ms(value);
    } else if (key == "main_ms") {
      settings.mainMs = to_ms(value);
    } else if (key == "console_handler") {
      settings.consoleHandler = value != "0";
    } else if (key == "main_message") {
      settings.mainMessage = value;
    } else if (key == "exit_status") {
      settings.exitStatus = std::atoi(value.c_str());
    } else if (key == "output_bytes") {
      settings.outputBytes = std::strtoul(value.c_str(), nullptr, 10);
    } else {
      known = false;
    }
    if (!known) journal("config_error text=%s", line.c_str());
  }
  journal("config file=%d scenario=%s create_ms=%lu cleanup_ms=%lu main_ms=%lu console_handler=%d",
          file.is_open() ? 1 : 0, settings.scenarioName.c_str(), settings.createMs, settings.cleanupMs,
          settings.mainMs, settings.consoleHandler ? 1 : 0);
}

// As a JVM without -Xrs: Ctrl+C ends the process with 130 (after the shutdown
// hooks), Ctrl+Break prints a thread dump, close, logoff and shutdown end it with 143.
BOOL WINAPI jvm_console_handler(DWORD event) {
  journal("jvm_console_event type=%lu", static_cast<unsigned long>(event));
  if (event == CTRL_BREAK_EVENT) {
    std::printf("Full thread dump (stand-in JVM)\n");
    std::fflush(stdout);
    return TRUE;
  }
  ExitProcess(event == CTRL_C_EVENT ? 130 : 143);
}

void build_tables() {
  nativeTable.FindClass = FindClass;
  nativeTable.GetStaticMethodID = GetStaticMethodID;
  nativeTable.CallStaticVoidMethod = CallStaticVoidMethod;
  nativeTable.CallStaticVoidMethodV = CallStaticVoidMethodV;
  nativeTable.CallStaticVoidMethodA = CallStaticVoidMethodA;
  nativeTable.NewStringUTF = NewStringUTF;
  nativeTable.NewObjectArray = NewObjectArray;
  nativeTable.SetObjectArrayElement = SetObjectArrayElement;
  nativeTable.ExceptionCheck = ExceptionCheck;
  nativeTable.ExceptionOccurred = ExceptionOccurred;
  nativeTable.ExceptionClear = ExceptionClear;
  nativeTable.Throw = Throw;
  nativeTable.GetObjectClass = GetObjectClass;
  nativeTable.GetMethodID = GetMethodID;
  nativeTable.CallObjectMethod = CallObjectMethod;
  nativeTable.CallObjectMethodV = CallObjectMethodV;
  nativeTable.CallObjectMethodA = CallObjectMethodA;
  nativeTable.GetStringLength = GetStringLength;
  nativeTable.GetStringChars = GetStringChars;
  nativeTable.ReleaseStringChars = ReleaseStringChars;
  theEnv.functions = &nativeTable;

  invokeTable.DestroyJavaVM = DestroyJavaVM;
  invokeTable.AttachCurrentThread = AttachCurrentThread;
  invokeTable.DetachCurrentThread = DetachCurrentThread;
  invokeTable.GetEnv = GetEnv;
  theVm.functions = &invokeTable;

  register_known(&stringClass);
  register_known(&agentClass);
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
  const JavaVMInitArgs* initArgs = static_cast<const JavaVMInitArgs*>(args);
  if (!initArgs) {
    journal("create_vm args=null");
    journal("create_vm_result result=%d", JNI_EINVAL);
    return JNI_EINVAL;
  }
  journal("create_vm version=0x%08lx nOptions=%ld ignoreUnrecognized=%d scenario=%s",
          static_cast<unsigned long>(initArgs->version), static_cast<long>(initArgs->nOptions),
          static_cast<int>(initArgs->ignoreUnrecognized), settings.scenarioName.c_str());
  for (jint i = 0; i < initArgs->nOptions && initArgs->options; ++i) {
    const JavaVMOption& option = initArgs->options[i];
    journal("option index=%ld extraInfo=%s text=%s", static_cast<long>(i), option.extraInfo ? "object" : "null",
            option.optionString ? option.optionString : "(null)");
    take_hook(option.optionString ? option.optionString : "", option.extraInfo);
  }
  // A real JVM registers its handler early in its creation, whatever the outcome.
  if (settings.consoleHandler) SetConsoleCtrlHandler(jvm_console_handler, TRUE);
  // A real JVM loads libraries of its own by bare names: one only in the host's current folder must not be found.
  journal("search_probe loaded=%d", LoadLibraryA("jvm_search_probe.dll") != nullptr ? 1 : 0);
  Sleep(settings.createMs);
  if (settings.scenario == Scenario::GivesUp) {  // as HotSpot with an initial heap it cannot reserve
    jvm_says("Error occurred during initialization of VM\n");
    jvm_says("Could not reserve enough space for %luKB object heap\n", 8388608UL);
    journal("abort_hook given=%d", abortHook ? 1 : 0);
    if (abortHook) abortHook();
    ExitProcess(1);
  }
  if (settings.scenario == Scenario::Refuse) jvm_says("Invalid thread stack size: -Xss1k.\n");

  jint result = JNI_OK;
  {
    StateGuard guard;
    if (vmCreated) {
      result = JNI_EEXIST;
    } else if (settings.scenario == Scenario::Refuse) {
      result = JNI_ERR;
    } else {
      vmCreated = true;
      creatorThread = GetCurrentThreadId();
      attachedThreads.insert(creatorThread);
    }
  }
  if (result == JNI_OK) {
    if (pvm) *pvm = &theVm;
    if (penv) *penv = &theEnv;
  }
  journal("create_vm_result result=%ld", static_cast<long>(result));
  return result;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(self);
    journal_open(self, "jvm");
    cleanupDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    build_tables();
    read_settings();
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // FreeLibrary only: at process exit the other threads are gone, perhaps
    // holding the journal lock.
    journal("dll_unloaded name=jvm");
  }
  return TRUE;
}
