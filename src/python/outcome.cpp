// The Outcome class: one result of a reaction run, with its capped byproducts.
#include <algorithm>
#include <string>

#include "match/byproduct.hpp"
#include "python/classes.hpp"

namespace quorix::python {

namespace {

std::string verdict_text(const match::CapResult& r) {
    switch (r.verdict) {
        case match::CapVerdict::Nothing: return "nothing";
        case match::CapVerdict::Capped: return "capped";
        case match::CapVerdict::Bonded: return "bonded(" + std::to_string(r.n) + ")";
        case match::CapVerdict::Unresolved: return "unresolved(" + std::string(match::reason_text(r.reason)) + ")";
    }
    internal_error("未知的收口结论");
}

std::vector<std::pair<std::string, std::int64_t>> budget_entries(const match::CapBudget& b) {
    std::vector<std::pair<std::string, std::int64_t>> out = {
        {"open_valence", std::int64_t{b.open_valence}},
        {"fragment_hydrogens", std::int64_t{b.fragment_hydrogens}},
        {"delta_h", b.delta_h},
        {"need", b.need},
        {"remaining", b.remaining},
        {"delta_charge", b.delta_charge},
        {"fragment_charge", b.fragment_charge},
        {"charge_shift", b.charge_shift},
    };
    std::sort(out.begin(), out.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    return out;
}

Result copies(const std::vector<core::MolBuilder>& mols) { return mols_to_list(std::vector<core::MolBuilder>(mols)); }

Result products(const PyOutcome& o) { return copies(o.products); }
Result byproducts(const PyOutcome& o) { return copies(o.byproducts); }
Result reactants(const PyOutcome& o) { return copies(o.reactants); }
Result byproduct_verdict(const PyOutcome& o) { return to_py_str(o.byproduct_verdict); }

Result byproduct_budget(const PyOutcome& o) {
    Dict d;
    for (const auto& [key, value] : o.byproduct_budget) QX_CHECK(d.set(key.c_str(), to_py_int(value)));
    return d.take();
}

Result discarded(const PyOutcome& o) {
    return list_from(o.discarded, [](const std::vector<std::uint32_t>& list) { return indices_to_list(list); });
}

Result repr(const PyOutcome& o) {
    return to_py_str("<quorix.Outcome " + std::to_string(o.products.size()) + " products, " +
                     std::to_string(o.reactants.size()) + " mapped reactants, byproducts " + o.byproduct_verdict +
                     ">");
}

constexpr const char* VERDICT_DOC =
    "收口的结论:`\"nothing\"` / `\"capped\"` / `\"bonded(n)\"` /\n"
    "`\"unresolved(原因)\"`;没开 `byproducts` 时为 `\"off\"`。\n"
    "\n"
    "**`\"unresolved(...)\"` 时 `byproducts` 必然为空** —— 收不了口就不给分子,\n"
    "编一个出来比不给更糟:它拓扑合法、能净化、看不出破绽,只是错的。";

constexpr const char* BUDGET_DOC =
    "收口的原子账,键为 `open_valence` / `fragment_hydrogens` / `delta_h` /\n"
    "`need` / `remaining` / `delta_charge` / `fragment_charge` /\n"
    "`charge_shift`。用来自己复核结论。";

constexpr const char* DISCARDED_DOC =
    "`discarded[i]` = 第 i 个输入分子里没有进入任何产物的原子下标。\n"
    "\n"
    "这是**事实**,与收不收得了口无关 —— 收口失败时它照样有值,而那正是最\n"
    "需要它的时候。";

constexpr Member OUTCOME_MEMBERS[] = {
    property<&products>("products", "产物,每个产物模板一个分子。"),
    property<&byproducts>("byproducts", "收口出来的副产物。只在 `run(..., byproducts=True)` 且账闭合时非空。"),
    property<&byproduct_verdict>("byproduct_verdict", VERDICT_DOC),
    property<&byproduct_budget>("byproduct_budget", BUDGET_DOC),
    property<&discarded>("discarded", DISCARDED_DOC),
    property<&reactants>("reactants", "带原子映射号的反应物副本。只在 `run(..., atom_mapping=True)` 时非空。"),
};

constexpr ClassSpec OUTCOME_SPEC =
    class_spec<PyOutcome, &repr>("Outcome", "一组产物,连同(可选的)带映射号的反应物副本。", OUTCOME_MEMBERS);

}  // namespace

ClassObject outcome_class{OUTCOME_SPEC};

std::vector<PyOutcome> assemble_outcomes(std::vector<match::RawOutcome>&& raw, std::span<const core::MolBuilder> kept,
                                         bool byproducts) {
    std::vector<PyOutcome> out;
    out.reserve(raw.size());
    match::CapReactants reactants(kept);
    for (match::RawOutcome& r : raw) {
        PyOutcome p;
        if (byproducts) {
            match::CapResult capped = match::cap_byproducts(reactants, r);
            p.byproduct_verdict = verdict_text(capped);
            p.byproduct_budget = budget_entries(capped.budget);
            p.byproducts = std::move(capped.byproducts);
        } else {
            p.byproduct_verdict = "off";
        }
        p.products = std::move(r.products);
        p.reactants = std::move(r.reactants);
        p.discarded = std::move(r.discarded);
        out.push_back(std::move(p));
    }
    raw.clear();
    return out;
}

Result outcomes_to_list(std::vector<PyOutcome>&& payloads) {
    PyRef list = new_list(payloads.size());
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        QX_TRY(PyRef obj, new_object(std::move(payloads[i])));
        list_set(list.get(), i, std::move(obj));
    }
    payloads.clear();
    return list;
}

}  // namespace quorix::python
