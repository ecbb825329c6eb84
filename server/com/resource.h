// Resource identifiers of the module, shared by zentrak.rc and the code.
#pragma once

#define ZENTRAK_TYPELIB_ID 1
#define ZENTRAK_TOOLBOX_BITMAP_ID 1
// The verb name of the control's only verb.
#define ZENTRAK_IDS_PROPERTIES_VERB 4096
