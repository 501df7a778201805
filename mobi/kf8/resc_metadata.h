// The package metadata a KF8 book keeps in its RESC resource: an OPF
// fragment whose <meta name=... content=...> elements and <spine> attributes
// carry the fixed-layout facts some makers leave out of EXTH.
#pragma once

#include "common/byte_reader.h"
#include "container/exth_header.h"

// True when `record` is a RESC resource.
bool IsRescRecord(const ByteReader &record);

// Adds to `facts` the fixed-layout facts of the RESC record `record` that
// `facts` does not hold yet: "fixed-layout", "original-resolution",
// "orientation-lock", "primary-writing-mode" and, from the spine,
// "page-progression-direction".
void AddRescFacts(const ByteReader &record, BookFacts &facts);
