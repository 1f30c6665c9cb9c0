#pragma once
// Byproduct capping: the atoms a reaction discarded, closed into whole molecules
// by a ledger of hydrogens and formal charges. A ledger that does not close
// gives a reason and no molecule: an invented byproduct is worse than none.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/builder.hpp"
#include "match/react.hpp"

namespace quorix::match {

enum class CapVerdict : std::uint8_t { Nothing = 0, Capped = 1, Bonded = 2, Unresolved = 3 };

enum class CapReason : std::uint8_t {
    OddValence = 0,
    BudgetExceedsValence = 1,
    HydrogenBudgetNegative = 2,
    TooManyBonds = 3,
    ProductsUnsanitizable = 4,
    NoPairing = 5,
    FragmentUnsanitizable = 6,
    StrainedClosure = 7,
    SubstrateUnkekulizable = 8,
    BudgetMismatch = 9,
};

// "odd_valence", "budget_exceeds_valence", ...
std::string_view reason_text(CapReason reason);

struct CapBudget {
    std::uint32_t open_valence = 0;
    std::uint32_t fragment_hydrogens = 0;
    std::int32_t delta_h = 0;
    std::int32_t need = 0;
    std::int32_t remaining = 0;
    std::int32_t delta_charge = 0;
    std::int32_t fragment_charge = 0;
    std::int32_t charge_shift = 0;
    bool operator==(const CapBudget&) const = default;
};

struct CapResult {
    std::vector<core::MolBuilder> byproducts;  // empty unless Capped or Bonded
    CapVerdict verdict = CapVerdict::Nothing;
    CapReason reason = CapReason::OddValence;  // read only when Unresolved
    std::uint32_t n = 0;                       // bonds formed or raised, when Bonded
    CapBudget budget;
};

// The reactants as capping counts them: sanitised copies in Kekulé form with
// their hydrogen and charge totals. Prepared once, on first need, and shared by
// every outcome of one call. The molecules must outlive it.
class CapReactants {
public:
    explicit CapReactants(std::span<const core::MolBuilder> reactants) : reactants_(reactants) {}

    struct Prepared {
        std::vector<core::MolBuilder> mols;
        bool kekulized = true;  // false: some reactant would not sanitise or kekulize
        std::int64_t hydrogens = 0;
        std::int64_t charge = 0;
    };
    const Prepared& get();

private:
    std::span<const core::MolBuilder> reactants_;
    std::optional<Prepared> prepared_;
};

// `reactants` are the reaction's inputs in input order; only the outcome's
// products and discarded lists are read. Neither is changed.
CapResult cap_byproducts(CapReactants& reactants, const RawOutcome& outcome);
CapResult cap_byproducts(std::span<const core::MolBuilder> reactants, const RawOutcome& outcome);

}  // namespace quorix::match
