// Marks a function that another library image looks up by name at run time
// (the module's CreateServer, the host's SetMasterDatabase). Everything else is
// built with hidden visibility, so this macro is the only way a symbol leaves
// its image.
//
// The choice is made by compiler and object format, not by operating system,
// so that code using it carries no OS conditional.
#pragma once

#if defined(_MSC_VER) || defined(__MINGW32__) || defined(__CYGWIN__)
#define SERVERAPP_EXPORT __declspec(dllexport)
#elif defined(__GNUC__) || defined(__clang__)
#define SERVERAPP_EXPORT __attribute__((visibility("default")))
#else
#define SERVERAPP_EXPORT
#endif
