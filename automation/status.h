// The platform's standard status codes that the automation frame answers.
#pragma once

#include <cstdint>

namespace zentrak {

constexpr int32_t Status(uint32_t code) { return static_cast<int32_t>(code); }

constexpr int32_t kS_OK = 0;
constexpr int32_t kS_FALSE = 1;
constexpr int32_t kE_NOTIMPL = Status(0x80004001);
constexpr int32_t kE_NOINTERFACE = Status(0x80004002);
constexpr int32_t kE_POINTER = Status(0x80004003);
constexpr int32_t kE_FAIL = Status(0x80004005);
constexpr int32_t kE_OUTOFMEMORY = Status(0x8007000E);
constexpr int32_t kE_UNEXPECTED = Status(0x8000FFFF);
constexpr int32_t kDISP_E_MEMBERNOTFOUND = Status(0x80020003);
constexpr int32_t kDISP_E_TYPEMISMATCH = Status(0x80020005);
constexpr int32_t kDISP_E_UNKNOWNNAME = Status(0x80020006);
constexpr int32_t kDISP_E_EXCEPTION = Status(0x80020009);
constexpr int32_t kDISP_E_BADINDEX = Status(0x8002000B);
constexpr int32_t kDISP_E_BADPARAMCOUNT = Status(0x8002000E);
constexpr int32_t kCLASS_E_NOAGGREGATION = Status(0x80040110);
constexpr int32_t kCLASS_E_CLASSNOTAVAILABLE = Status(0x80040111);
constexpr int32_t kCONNECT_E_NOCONNECTION = Status(0x80040200);
constexpr int32_t kCONNECT_E_CANNOTCONNECT = Status(0x80040202);

}  // namespace zentrak
