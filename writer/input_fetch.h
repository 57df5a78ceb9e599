// Guarded access to the input's objects.
//
// Fetching a free entry, a wrong generation, a number out of range, or an
// object whose object stream is not in use makes the reading core rebuild its
// whole cross-reference table, which changes entries and stream lengths under
// every later step. Every fetch of an object named by a number read from the
// file goes through these checks first.
#pragma once

#include <cstdint>

#include <Object.h>

class XRef;

// Whether object num may be fetched with generation gen without making the
// reading core rebuild its table: the entry is in range and in use; an
// ordinary entry carries generation gen; an entry inside an object stream
// names a container that is an ordinary entry in use (its generation is
// always 0, and the reading core ignores the one asked for).
bool EntryFetchable(XRef *xref, int32_t num, int32_t gen);

// Fetches object num when EntryFetchable allows it; a null object otherwise.
Object FetchInUse(XRef *xref, int32_t num, int32_t gen, int recursion = 0);
