// A hierarchy laid out in one block of bytes, its image: what its file holds,
// and what the ranks of a machine share. Loaded from a file, a job does not
// build it again; the engines read it through a view of the block.
//
//   "spc hierarchy\n\0\0" (16 bytes), then 64-bit words: version,
//   0x0102030405060708 (the byte order), network nodes, network arcs,
//   network hash, nodes, upward arcs, downward arcs; then the arrays, each
//   padded to 8 bytes: up_first, up_length, down_first, down_length (64-bit),
//   original, index_of, out_degree, up_head, down_tail (32-bit); then a
//   64-bit checksum of everything before it.
//
// An image is refused when it is of another network, format or byte order,
// of the wrong size, or damaged (its checksum, or arrays that break the
// hierarchy's rules).
#pragma once

#include <cstdio>
#include <string>

#include "base/aligned_vector.h"
#include "hierarchy.h"

constexpr uint64_t kHierarchyFileVersion = 2;

using HierarchyImage = AlignedVector<unsigned char>;

// The image of a built hierarchy.
HierarchyImage imageOf(const Hierarchy& hierarchy);

// A view of the image (8-byte aligned, `bytes` long) of a hierarchy of the
// network with this fingerprint. Empty string, or why it is refused.
std::string viewImage(const unsigned char* image, uint64_t bytes, const NetworkFingerprint& network,
                      HierarchyView& view);

// Writes the image. Empty string or the error.
std::string saveImage(const HierarchyImage& image, std::FILE* out);
std::string saveHierarchy(const Hierarchy& hierarchy, std::FILE* out);

// Reads the image of a hierarchy of this network, and views it. Empty
// string, or why the file is refused (nothing is then loaded).
std::string loadImage(std::FILE* in, const NetworkFingerprint& network, HierarchyImage& image, HierarchyView& view);
std::string loadImage(const std::string& path, const NetworkFingerprint& network, HierarchyImage& image,
                      HierarchyView& view);
