#pragma once

// Machine-dependent JNI types for Windows targets (LLP64: long is 32 bits).
#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;
