#pragma once

// A data object over the toolkit's drag data. It offers, in this order:
//   CF_HDROP      a DROPFILES block (16-bit names) of the local-file URLs, in order
//   "FileNameW"   the first local file, 16-bit, zero-terminated
//   "FileName"    the first local file in the system code page, zero-terminated
//   every registered format the data carries as
//   application/x-qt-windows-mime;value="NAME", with its raw bytes.
// URLs that are not local files are not file names; a file URL names a local
// file when its host is empty, "localhost" or this machine's name, and its
// percent-encoded bytes are the name's bytes, UTF-8 or not (16-bit text
// keeps the others as in platform/TextConversion.h). Everything is read from
// the drag data when the object is made, so it stays usable after the
// toolkit has let go of the drag. SetData of "Performed DropEffect" records
// the effect the target performed.

#include "platform/ComPtr.h"
#include "platform/WinTypes.h"

#include <string>
#include <string_view>

class QMimeData;

// The toolkit's name for a native clipboard format called name.
std::string WindowsMimeType(std::string_view name);

class QtDataObject;

// Makes the data object (one reference, owned by the caller).
ComPtr<IDataObject> CreateQtDataObject(const QMimeData* mimeData);

// The effect recorded through "Performed DropEffect"; false when none was set
// or when dataObject is not one of ours.
bool PerformedEffectOf(IDataObject* dataObject, DROPEFFECT& effect);
