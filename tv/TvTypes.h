// TV value types. Their numbering is the framework's: the plug-in passes the
// integers through unchanged and never tests, ranges or maps them.
#ifndef NPTV_TV_TVTYPES_H
#define NPTV_TV_TVTYPES_H

#include <cstdint>

namespace NSPlTV {

enum _PL_TV_EVENT : int32_t {};
enum _PL_TV_DST_TYPE : int32_t {};
enum _PL_TV_TIMEZONE : int32_t {};
enum _PL_TV_COUNTRY : int32_t {};
enum _PL_TV_LANGUAGE : int32_t {};
enum _PL_TV_DISPLAY_PANEL : int32_t {};
enum _PL_TV_PRODUCT_TYPE : int32_t {};
enum _PL_TV_BDPRODUCT_TYPE : int32_t {};
enum _PL_TV_TARGET_LOCATION : int32_t {};
enum _PL_TV_FACTORY_LANGUAGE : int32_t {};

}  // namespace NSPlTV

// The information items of GetPluginInfo; only 0 is answered.
enum _PL_CMN_INFO : int32_t { PL_CMN_INFO_VERSION = 0 };

static_assert(sizeof(NSPlTV::_PL_TV_COUNTRY) == 4 && sizeof(_PL_CMN_INFO) == 4,
              "TV value types are 32-bit integers");

#endif
