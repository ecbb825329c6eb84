// The DISPIDs of the objects' members and of the control's events, by name, so that the objects
// bind their members without bare numbers. The type library description (typelib.cpp) stays the
// source of truth: a test checks every name and number here against it, both ways.
//
// Each list gives the constant's name, the member's name as the type library spells it, and the
// DISPID; the constants and the table that the test reads are both made from it.
#pragma once

#include <cstdint>
#include <span>

#define ZENTRAK_LOCALDB_DISPIDS(X)      \
  X(GetVersion, GetVersion, 201)        \
  X(InitDB, InitDB, 202)                \
  X(ExecuteSql, executeSql, 203)        \
  X(BeginTrans, BeginTrans, 204)        \
  X(CommitTrans, CommitTrans, 205)      \
  X(RollBackTrans, RollBackTrans, 206)  \
  X(SetDBName, setDBName, 207)          \
  X(IsTableCached, isTableCached, 208)  \
  X(InitCache, initCache, 209)          \
  X(QueryAll, queryAll, 210)            \
  X(QueryByPage, queryByPage, 211)      \
  X(GetCacheObjs, getCacheObjs, 212)    \
  X(Close, close, 213)

#define ZENTRAK_PRINTSERVER_DISPIDS(X)            \
  X(GetVPrinters, getVPrinters, 201)              \
  X(GetPhPrinters, getPhPrinters, 202)            \
  X(Preview, preview, 203)                        \
  X(PrintOut, printOut, 204)                      \
  X(SetDBName, setDBName, 205)                    \
  X(PrintOutWithPage, printOutWithPage, 206)      \
  X(Compress, compress, 207)                      \
  X(DeCompress, deCompress, 208)

#define ZENTRAK_FILESYSTEMOBJECT_DISPIDS(X) \
  X(SelectFiles, selectFiles, 201)          \
  X(GetFileStream, GetFileStream, 202)

// A property's get, put and putref share its DISPID. The negative ones are the platform's
// standard DISPIDs of those properties.
#define ZENTRAK_ACTIVEFORM_DISPIDS(X)                          \
  X(Visible, Visible, 201)                                     \
  X(AutoScroll, AutoScroll, 202)                               \
  X(AutoSize, AutoSize, 203)                                   \
  X(AxBorderStyle, AxBorderStyle, 204)                         \
  X(Caption, Caption, -518)                                    \
  X(Color, Color, -501)                                        \
  X(Font, Font, -512)                                          \
  X(KeyPreview, KeyPreview, 205)                               \
  X(PixelsPerInch, PixelsPerInch, 206)                         \
  X(PrintScale, PrintScale, 207)                               \
  X(Scaled, Scaled, 208)                                       \
  X(Active, Active, 209)                                       \
  X(DropTarget, DropTarget, 210)                               \
  X(HelpFile, HelpFile, 211)                                   \
  X(ScreenSnap, ScreenSnap, 212)                               \
  X(SnapBuffer, SnapBuffer, 213)                               \
  X(DoubleBuffered, DoubleBuffered, 214)                       \
  X(AlignDisabled, AlignDisabled, 215)                         \
  X(VisibleDockClientCount, VisibleDockClientCount, 216)       \
  X(Enabled, Enabled, -514)                                    \
  X(Preview, preview, 217)

#define ZENTRAK_ACTIVEFORM_EVENT_DISPIDS(X) \
  X(OnActivate, OnActivate, 201)            \
  X(OnClick, OnClick, 202)                  \
  X(OnCreate, OnCreate, 203)                \
  X(OnDblClick, OnDblClick, 204)            \
  X(OnDestroy, OnDestroy, 205)              \
  X(OnDeactivate, OnDeactivate, 206)        \
  X(OnKeyPress, OnKeyPress, 207)            \
  X(OnPaint, OnPaint, 208)

namespace zentrak::dispid {

#define ZENTRAK_DISPID_CONSTANT(constant, member, id) inline constexpr int32_t k##constant = id;
namespace local_db {
ZENTRAK_LOCALDB_DISPIDS(ZENTRAK_DISPID_CONSTANT)
}
namespace print_server {
ZENTRAK_PRINTSERVER_DISPIDS(ZENTRAK_DISPID_CONSTANT)
}
namespace file_system_object {
ZENTRAK_FILESYSTEMOBJECT_DISPIDS(ZENTRAK_DISPID_CONSTANT)
}
namespace active_form {
ZENTRAK_ACTIVEFORM_DISPIDS(ZENTRAK_DISPID_CONSTANT)
}
namespace active_form_events {
ZENTRAK_ACTIVEFORM_EVENT_DISPIDS(ZENTRAK_DISPID_CONSTANT)
}
#undef ZENTRAK_DISPID_CONSTANT

// The same lists as a table: which interface of the type library each one binds.
struct NamedDispid {
  const char* member;
  int32_t dispid;
};
struct BoundInterface {
  const char* name;  // the interface's name in the type library
  std::span<const NamedDispid> members;
};

#define ZENTRAK_DISPID_ENTRY(constant, member, id) NamedDispid{#member, id},
inline constexpr NamedDispid kLocalDB[] = {ZENTRAK_LOCALDB_DISPIDS(ZENTRAK_DISPID_ENTRY)};
inline constexpr NamedDispid kPrintServer[] = {ZENTRAK_PRINTSERVER_DISPIDS(ZENTRAK_DISPID_ENTRY)};
inline constexpr NamedDispid kFileSystemObject[] = {ZENTRAK_FILESYSTEMOBJECT_DISPIDS(ZENTRAK_DISPID_ENTRY)};
inline constexpr NamedDispid kActiveForm[] = {ZENTRAK_ACTIVEFORM_DISPIDS(ZENTRAK_DISPID_ENTRY)};
inline constexpr NamedDispid kActiveFormEvents[] = {ZENTRAK_ACTIVEFORM_EVENT_DISPIDS(ZENTRAK_DISPID_ENTRY)};
#undef ZENTRAK_DISPID_ENTRY

inline constexpr BoundInterface kBoundInterfaces[] = {
    {"ILocalDB", kLocalDB},
    {"IPrintServer", kPrintServer},
    {"IFileSystemObject", kFileSystemObject},
    {"IActiveFormX_Foxit", kActiveForm},
    {"IActiveFormX_FoxitEvents", kActiveFormEvents},
};

}  // namespace zentrak::dispid
