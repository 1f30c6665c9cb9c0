#pragma once
// Over-valent ligand atoms bound to metals by single bonds get one dative bond
// (donor -> metal), which lowers the donor's valence by one.
#include <cstdint>

#include "core/builder.hpp"

namespace quorix::chem {

// Every element outside the non-metals (wildcard, H, He, B, C, N, O, F, Ne, Si,
// P, S, Cl, Ar, As, Se, Br, Kr, Te, I, Xe, At, Rn), atomic numbers above 118 too.
bool is_metal(std::uint32_t atomic_num);

// True when `bond` is Single and `atom` is a metal (every element outside the
// non-metal list, and every atomic number above 118).
bool is_metal_single_bond(const core::MolBuilder& mol, std::uint32_t atom, std::uint32_t bond);

// True when `atom` is an over-valent non-metal donor with a single bond to a metal.
bool is_dative_candidate(const core::MolBuilder& mol, std::uint32_t atom);

// Converts at most one bond per donor; returns the number of bonds made Dative.
// A reversed bond rebuilds every neighbour list in bond order.
std::uint32_t organometallics(core::MolBuilder& mol);

}  // namespace quorix::chem
