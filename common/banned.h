// Functions this code does not call, each with a bounded or checked replacement: snprintf for
// the copies and formats (a result that does not fit is seen, never cut silently), fgets for
// gets, strtol or readDecimal for ato*; each program's one child module for system and popen
// (they ignore SIGINT and SIGQUIT in the caller while the child runs). A call to one fails to
// compile.
//
// Include it after every other header of the file: its macros would rename the declarations
// in the system headers.
#pragma once

#define ZAV_BANNED(func) sorry_##func##_is_a_banned_function

#undef strcpy
#define strcpy(...) ZAV_BANNED(strcpy)
#undef strcat
#define strcat(...) ZAV_BANNED(strcat)
#undef strncpy
#define strncpy(...) ZAV_BANNED(strncpy)
#undef strncat
#define strncat(...) ZAV_BANNED(strncat)
#undef sprintf
#define sprintf(...) ZAV_BANNED(sprintf)
#undef vsprintf
#define vsprintf(...) ZAV_BANNED(vsprintf)
#undef gets
#define gets(...) ZAV_BANNED(gets)
#undef strtok
#define strtok(...) ZAV_BANNED(strtok)
#undef atoi
#define atoi(...) ZAV_BANNED(atoi)
#undef atol
#define atol(...) ZAV_BANNED(atol)
#undef atoll
#define atoll(...) ZAV_BANNED(atoll)
#undef tmpnam
#define tmpnam(...) ZAV_BANNED(tmpnam)
#undef mktemp
#define mktemp(...) ZAV_BANNED(mktemp)
#undef system
#define system(...) ZAV_BANNED(system)
#undef popen
#define popen(...) ZAV_BANNED(popen)
