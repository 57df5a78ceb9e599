#include "input_fetch.h"

#include <XRef.h>

bool EntryFetchable(XRef *xref, int32_t num, int32_t gen)
{
    if (!xref || num <= 0 || num >= xref->getNumObjects()) {
        return false;
    }
    const XRefEntry *entry = xref->getEntry(num, false);
    if (!entry) {
        return false;
    }
    switch (entry->type) {
    case xrefEntryUncompressed:
        return entry->gen == gen && entry->offset >= 0;
    case xrefEntryCompressed: {
        // The entry's offset names the object stream, which must be in use.
        if (entry->offset <= 0 || entry->offset >= xref->getNumObjects()) {
            return false;
        }
        const XRefEntry *container = xref->getEntry(static_cast<int>(entry->offset), false);
        return container && container->type == xrefEntryUncompressed && container->offset >= 0;
    }
    default:
        return false;
    }
}

Object FetchInUse(XRef *xref, int32_t num, int32_t gen, int recursion)
{
    if (!EntryFetchable(xref, num, gen)) {
        return Object(objNull);
    }
    return xref->fetch(num, gen, recursion);
}
