"""Reaction.run, Reaction.run_on_substrate and Outcome: chemistry checked by hand,
input order, bad input, byproducts, limits and a sweep over real molecules."""
from pathlib import Path

import pytest

import quorix
from conftest import needs_hooks

DATA = Path(__file__).resolve().parents[1] / "data"


def mol(smiles, sanitize=True):
    m = quorix.parse_smiles(smiles)
    if sanitize:
        m.sanitize()
    return m


def canonical(m):
    m.sanitize()
    return m.to_canonical_smiles()


def first(reaction, smiles, **kw):
    outcomes = quorix.parse_reaction(reaction).run([mol(s) for s in smiles], byproducts=True, **kw)
    assert outcomes
    o = outcomes[0]
    return [canonical(p) for p in o.products], o.byproduct_verdict, [canonical(b) for b in o.byproducts]


AMIDE = "[C:1](=[O:2])[OH1:3].[N;H2:4][C:5]>>[C:1](=[O:2])[N:4][C:5]"
ESTER = "[C:1](=[O:2])[OH1:3].[OH1:4][C:5]>>[C:1](=[O:2])[O:4][C:5]"
AZIDE_SN2 = "[C@:1][Br:2].[N-:3]=[N+:4]=[N-:5]>>[C{}:1][N+0:3]=[N+:4]=[N-:5]"


# ---- chemistry ----------------------------------------------------------------


@pytest.mark.parametrize(
    "reaction, smiles, products, verdict, byproducts",
    [
        (AMIDE, ["OC(=O)c1ccccc1", "NCc1ccccc1"], ["C(c1ccccc1)NC(c1ccccc1)=O"], "capped", ["O"]),
        # Boc removal written with its two byproducts as products.
        ("[N:1][C:2](=[O:3])[O:4][C:5]([CH3:6])([CH3:7])[CH3:8]>>[N:1].[O:3]=[C:2]=[O:4].[C:5](=[CH2:6])([CH3:7])[CH3:8]",
         ["CC(C)(C)OC(=O)NCc1ccccc1"], ["C(c1ccccc1)N", "C(=O)=O", "CC(C)=C"], "nothing", []),
        # SN2 by azide with inversion; the bromide leaves with the charge the products lack.
        (AZIDE_SN2.format("@@"), ["C[C@H](Br)CC", "[N-]=[N+]=[N-]"], ["C[C@H](CC)N=[N+]=[N-]"], "capped", ["[Br-]"]),
        # An agent template plays no part.
        ("[C:1](=[O:2])[OH1:3].[OH1:4][C:5]>OS(=O)(=O)O>[C:1](=[O:2])[O:4][C:5]", ["CC(=O)O", "OCC"],
         ["CC(=O)OCC"], "capped", ["O"]),
        # Nitrogen leaves an azo compound: the open N=N is raised to N#N.
        ("[C:1][N:2]=[N:3][C:4]>>[C:1][C:4]", ["CN=NC"], ["CC"], "bonded(1)", ["N#N"]),
    ],
    ids=["amide", "boc", "sn2_inversion", "agent", "azo_extrusion"],
)
def test_chemistry(reaction, smiles, products, verdict, byproducts):
    assert first(reaction, smiles) == (products, verdict, byproducts)


def test_intramolecular_reaction_needs_the_joined_substrate():
    r = quorix.parse_reaction("[OH1:1][C:2].[C:3](=[O:4])[OH1:5]>>[C:2][O:1][C:3]=[O:4]")
    m = mol("OCCCCC(=O)O")
    [o] = r.run_on_substrate([m], byproducts=True, atom_mapping=True)
    assert [canonical(p) for p in o.products] == ["[CH2:2]1[CH2:3][CH2:4][CH2:5][C:6](=[O:7])[O:1]1"]
    assert o.discarded == [[7]]
    assert len(o.reactants) == 1
    assert [canonical(b) for b in o.byproducts] == ["O"]


def test_input_order_does_not_decide_whether_it_runs():
    r = quorix.parse_reaction(ESTER)
    forward = r.run([mol("OC(=O)c1ccccc1"), mol("OC")])
    backward = r.run([mol("OC"), mol("OC(=O)c1ccccc1")])
    assert forward and len(backward) == len(forward)
    assert [[canonical(p) for p in o.products] for o in backward] == [[canonical(p) for p in o.products] for o in forward]
    # The discarded lists follow the caller's order.
    assert [o.discarded[::-1] for o in backward] == [o.discarded for o in forward]


# ---- bad input ----------------------------------------------------------------


def type_error_text(call):
    with pytest.raises(TypeError) as e:
        call()
    return str(e.value)


# An empty list would read as "the template does not apply".
@pytest.mark.parametrize("count", [0, 1, 3])
def test_run_refuses_a_wrong_number_of_molecules(count):
    with pytest.raises(ValueError) as e:
        quorix.parse_reaction(AMIDE).run([mol("CC(=O)O")] * count)
    assert str(e.value) == f"需要 2 个反应物,给了 {count} 个"


def test_docstrings_say_a_wrong_count_raises():
    run, substrate = quorix.Reaction.run.__doc__, quorix.Reaction.run_on_substrate.__doc__
    assert "分子数与模板数不等时抛\n`ValueError`,报出这两个数" in run
    assert "比分子数多时直接抛 `ValueError`,报出这两个数" in substrate
    for doc in (run, substrate):
        assert "不等时返回" not in doc and "直接返回空" not in doc
    # What the second docstring says: more template pieces than molecules.
    with pytest.raises(ValueError, match="^需要 2 个反应物,给了 1 个$"):
        quorix.parse_reaction(AMIDE).run([mol("CC(=O)O")])


def test_bad_input_gives_the_exception_or_an_empty_list():
    r = quorix.parse_reaction(AMIDE)
    m = mol("CC(=O)O")
    assert r.run_on_substrate([]) == []
    assert type_error_text(lambda: r.run("CC(=O)O")) == "argument 'reactants': Can't extract `str` to `Vec`"
    assert type_error_text(lambda: r.run([m, 1])) == "argument 'reactants': 'int' object cannot be cast as 'Mol'"
    assert type_error_text(lambda: r.run([m, "NCC"])) == "argument 'reactants': 'str' object cannot be cast as 'Mol'"
    assert "argument 'substrate'" in type_error_text(lambda: r.run_on_substrate(m))
    assert "max_products" in type_error_text(lambda: r.run([m, m], max_products="1"))
    with pytest.raises(TypeError):
        r.run()
    with pytest.raises(TypeError):
        r.run([m, m], 0)
    # A reaction without product templates never applies.
    assert quorix.parse_reaction("[C:1]>>").run([m]) == []


class Index:
    """An int whose conversion runs `action` first."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __index__(self):
        self.action()
        return self.value


@needs_hooks
def test_a_borrowed_molecule_is_refused():
    r = quorix.parse_reaction(AMIDE)
    acid, amine = mol("CC(=O)O"), mol("NCC")
    seen = []

    def run_inside():
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            r.run([acid, amine])
        seen.append(True)

    quorix._probe_exclusive(amine, count=Index(0, run_inside))
    assert seen == [True]
    assert len(r.run([acid, amine])) == 1


# An unsanitised CCl has no hydrogens yet, so [CH3] finds nothing in it.
METHYL = "[CH3:1][Cl:2]>>[CH3:1][F:2]"


def test_inputs_are_borrowed_only_while_copied():
    # A keyword converted after the copies were made may sanitise an input; the
    # call goes on with the copy as it was.
    m = mol("CCl", sanitize=False)
    assert quorix.parse_reaction(METHYL).run([m], max_products=Index(0, m.sanitize)) == []
    assert len(quorix.parse_reaction(METHYL).run([m])) == 1


def test_a_sequence_may_sanitise_an_item_between_copies():
    m = mol("CCl", sanitize=False)

    class Twice:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i == 1:
                m.sanitize()
                # A call nested between the copies keeps its own.
                [inner] = quorix.parse_reaction(METHYL).run([mol("CCl.CBr")])
                assert [canonical(p) for p in inner.products] == ["CF", "CBr"]
            if i > 1:
                raise IndexError(i)
            return m

    # Two copies of one object, taken before and after it was sanitised: only
    # the second has a methyl group.
    [o] = quorix.parse_reaction(METHYL).run_on_substrate(Twice())
    assert o.discarded == [[], []] and [canonical(p) for p in o.products] == ["CF", "CCl"]


def test_one_molecule_may_stand_for_several_inputs():
    glycolic = mol("OCC(=O)O")
    outcomes = quorix.parse_reaction(ESTER).run([glycolic, glycolic])
    # The second template takes the alcohol, then the acid's own OH (an anhydride).
    assert [canonical(p) for o in outcomes for p in o.products] == ["C(C(O)=O)OC(CO)=O", "C(C(=O)OC(CO)=O)O"]


def test_inputs_are_never_changed():
    acid, amine = mol("CC(=O)O"), mol("NCC")
    before = (acid.to_smiles(), amine.to_smiles())
    [o] = quorix.parse_reaction(AMIDE).run([acid, amine], atom_mapping=True, byproducts=True)
    assert (acid.to_smiles(), amine.to_smiles()) == before
    # Molecules handed out are copies: sanitising one changes nothing stored.
    p = o.products[0]
    stored = p.to_smiles()
    p.sanitize()
    assert p.to_smiles() != stored and o.products[0].to_smiles() == stored


# ---- the Outcome object ---------------------------------------------------------


def test_outcome_without_byproducts_or_maps():
    [o] = quorix.parse_reaction(AMIDE).run([mol("CC(=O)O"), mol("NCC")])
    assert type(o) is quorix.Outcome
    assert repr(o) == "<quorix.Outcome 1 products, 0 mapped reactants, byproducts off>"
    assert (o.byproduct_verdict, o.byproduct_budget, o.byproducts, o.reactants) == ("off", {}, [], [])
    assert o.discarded == [[3], []]
    with pytest.raises(TypeError):
        quorix.Outcome()


def test_outcome_with_maps_and_budget():
    [o] = quorix.parse_reaction(AMIDE).run([mol("CC(=O)O"), mol("NCC")], atom_mapping=True, byproducts=True)
    assert repr(o) == "<quorix.Outcome 1 products, 2 mapped reactants, byproducts capped>"
    assert list(o.byproduct_budget) == ["charge_shift", "delta_charge", "delta_h", "fragment_charge",
                                        "fragment_hydrogens", "need", "open_valence", "remaining"]
    assert o.byproduct_budget == {"charge_shift": 0, "delta_charge": 0, "delta_h": 2, "fragment_charge": 0,
                                  "fragment_hydrogens": 1, "need": 1, "open_valence": 1, "remaining": 0}
    # Map numbers 1..n pair every reactant atom that reached the product.
    assert canonical(o.reactants[0]) == "[CH3:1][C:2](O)=[O:3]"
    assert canonical(o.reactants[1]) == "[CH3:6][CH2:5][NH2:4]"
    assert canonical(o.products[0]) == "[CH3:1][C:2]([NH:4][CH2:5][CH3:6])=[O:3]"


def test_unresolved_capping_gives_no_molecule_but_keeps_the_ledger():
    # Bromide swapped for hydroxyl without a water: the ledger lacks a hydrogen.
    [o] = quorix.parse_reaction("[C:1][Br:2]>>[C:1][OH1]").run([mol("CCBr")], byproducts=True)
    assert o.byproduct_verdict == "unresolved(hydrogen_budget_negative)"
    assert o.byproducts == [] and o.byproduct_budget["delta_h"] == -1 and o.discarded == [[2]]
    [o] = quorix.parse_reaction("[Cl:1][C:2][C:3][Br:4]>>[C:2]=[C:3]").run([mol("ClCCBr")], byproducts=True)
    assert o.byproduct_verdict == "unresolved(no_pairing)" and o.byproducts == []


def test_docstrings():
    assert quorix.Reaction.run.__text_signature__ == \
        "($self, reactants, *, max_products=0, atom_mapping=False, byproducts=False)"
    assert quorix.Reaction.run_on_substrate.__text_signature__ == \
        "($self, substrate, *, max_products=0, atom_mapping=False, byproducts=False)"
    assert quorix.Reaction.run.__doc__.startswith("对一组反应物跑这条反应。")
    assert quorix.Reaction.run_on_substrate.__doc__.endswith("要稳定耗时就用 `run`。")
    assert quorix.Outcome.__doc__ == "一组产物,连同(可选的)带映射号的反应物副本。"
    assert quorix.Outcome.products.__doc__ == "产物,每个产物模板一个分子。"
    assert quorix.Outcome.byproduct_verdict.__doc__.endswith("看不出破绽,只是错的。")


# ---- limits -----------------------------------------------------------------------


def test_max_products_caps_a_combinatorial_run():
    # 180 chain carbons with 10 chlorines and 10 bromines: 200 heavy atoms, 100 pairings.
    chain = "".join("C(Cl)" if i % 18 == 3 else "C(Br)" if i % 18 == 12 else "C" for i in range(180))
    m = mol(chain)
    assert m.num_atoms == 200
    r = quorix.parse_reaction("[C:1][Cl:2].[C:3][Br:4]>>[C:1][O:5][C:3].[Cl:2][Br:4]")
    assert len(r.run_on_substrate([m], max_products=10)) == 10
    assert len(r.run_on_substrate([m], max_products=0)) == 100


# ---- real molecules -------------------------------------------------------------


def transforms():
    lines = (DATA / "transforms.rxn").read_text(encoding="utf-8").splitlines()
    return [tuple(line.split("\t")) for line in lines if line and not line.startswith("#")]


# First outcomes of the transforms on real molecules, each product checked by hand.
HAND_CHECKED = [
    ("alcohol_to_bromide", "C(N(=O)=O)(CO)(CO)CO", ["C(C(CO)(CO)[N+]([O-])=O)Br"]),
    ("acid_to_methyl_ester", "N[C@@H](COS(=O)(=O)O)C(=O)O", ["COC([C@H](COS(O)(=O)=O)N)=O"]),
    ("aryl_halide_to_boronic_acid", "IC(=C(N1C)C)C(=O)N1c(ccc2)cc2", ["B(c1c(C)n(C)n(-c2ccccc2)c1=O)(O)O"]),
    # The centre loses a ligand and with it its stereo.
    ("decarboxylation", "N[C@@H](COS(=O)(=O)O)C(=O)O", ["C(CN)OS(O)(=O)=O"]),
    ("suzuki_disconnection", "Clc(ccc1c(ccc2Cl)c(Cl)c2)cc1", ["B(c1ccc(cc1)Cl)(O)O", "c1c(c(ccc1Cl)Br)Cl"]),
    # The sulfonamide nitrogen is also in the ring: the ring opens into one product.
    ("sulfonamide_disconnection", "O=S2(=O)c1c(cccc1)C(=O)N2", ["c1cccc(c1C(N)=O)S(=O)(=O)Cl"]),
]


@pytest.mark.parametrize("name, smiles, products", HAND_CHECKED, ids=[row[0] for row in HAND_CHECKED])
def test_transform_outcomes_checked_by_hand(name, smiles, products):
    [o] = quorix.parse_reaction(dict(transforms())[name]).run([mol(smiles)], max_products=1)
    assert [canonical(p) for p in o.products] == products


def test_transforms_over_real_molecules_give_products_that_sanitise():
    mols = []
    for line in (DATA / "molecules.smi").read_text(encoding="utf-8").splitlines()[:600]:
        m = quorix.parse_smiles(line.split()[0])
        try:
            m.sanitize()
        except ValueError:
            continue
        mols.append(m)
    assert len(mols) >= 500
    table = transforms()
    assert len(table) >= 50
    applied = set()
    unsanitisable = []
    for name, smarts in table:
        r = quorix.parse_reaction(smarts)
        for i, m in enumerate(mols):
            for o in r.run([m], max_products=4):
                applied.add(name)
                for p in o.products:
                    try:
                        p.sanitize()
                    except ValueError as e:
                        unsanitisable.append((name, i, str(e)))
    assert unsanitisable == []
    assert len(applied) >= 50


def ledger(m, atoms=None):
    """Heavy atoms, hydrogens (declared, implicit and hydrogen atoms) and charge."""
    heavy = hydrogens = charge = 0
    for i, d in enumerate(m.atom_descriptors()):
        if atoms is not None and i not in atoms:
            continue
        heavy += d["atomic_num"] != 1
        hydrogens += d["total_num_hs"] + (d["atomic_num"] == 1)
        charge += d["formal_charge"]
    return heavy, hydrogens, charge


def test_capped_byproducts_balance_over_real_transforms():
    # Whatever the reactants hold and the products lack is in the byproducts:
    # hydrogens and charge over everything, heavy atoms over the discarded ones
    # (templates may add atoms of their own to the products). Sulfoxides made
    # into alkenes leave an S=O that no hydrogen count closes: the ledger, not
    # sanitisation, has to refuse it. An ether template numbered on both sides
    # maps one side only; the other must be counted once, as discarded.
    mols = [mol(s) for s in ("CS(C)=O", "CCS(=O)c1ccccc1")]
    for line in (DATA / "molecules.smi").read_text(encoding="utf-8").splitlines()[:1500]:
        try:
            mols.append(mol(line.split()[0]))
        except ValueError:
            continue
    closed = set()
    for name, smarts in transforms() + [("sulfoxide_to_alkene", "[#6:1][SX3](=O)[#6:4]>>[#6:1]=[#6:4]"),
                                        ("ether_cleavage", "[C:1][O:2][C:1]>>[C:1][OH1:2]")]:
        r = quorix.parse_reaction(smarts)
        for m in mols:
            for o in r.run([m], byproducts=True, max_products=2):
                if not o.byproduct_verdict.startswith(("capped", "bonded")):
                    continue
                closed.add(name)
                products = [p.copy() for p in o.products]
                for p in products:
                    p.sanitize()
                made = [ledger(p) for p in products] + [ledger(b) for b in o.byproducts]
                _, before_h, before_q = ledger(m)
                assert (sum(x[1] for x in made), sum(x[2] for x in made)) == (before_h, before_q), name
                assert sum(ledger(b)[0] for b in o.byproducts) == ledger(m, set(o.discarded[0]))[0], name
    assert len(closed) >= 5 and "ether_cleavage" in closed


ANHYDRIDE = "[CH3:1][C:2](=[O:3])O[C:2](=[O:3])[CH3:1].[OH:4][CH3:5]>>[CH3:1][C:2](=[O:3])[O:4][CH3:5]"
ETHER_HI = "[CH3:1][CH2:2][O:3][CH2:2][CH3:1].[I:4]>>[CH3:1][CH2:2][I:4]"
ESTER_REPEATED_3 = "[C:1](=[O:2])[OH1:3].[OH1:3][CH3:4]>>[C:1](=[O:2])[O:3][CH3:4]"


def total(mols):
    return tuple(map(sum, zip(*(ledger(m) for m in mols))))


@pytest.mark.parametrize(
    "method, reaction, smiles, count, products, discarded, mapped, byproducts",
    [
        # Symmetric anhydride mapped on both halves: each half in turn is the
        # first; the other leaves as acetic acid.
        ("run", ANHYDRIDE, ["CC(=O)OC(C)=O", "OC"], 2, ["COC(C)=O"], [[3, 4, 5, 6], []],
         (["CC(=O)O[C:2]([CH3:1])=[O:3]", "[CH3:5][OH:4]"], ["[CH3:5][O:4][C:2]([CH3:1])=[O:3]"]),
         ["CC(O)=O"]),
        ("run_on_substrate", ANHYDRIDE, ["CC(=O)OC(C)=O", "OC"], 2, ["COC(C)=O"], [[3, 4, 5, 6], []],
         (["[CH3:5][OH:4].CC(=O)O[C:2]([CH3:1])=[O:3]"], ["[CH3:5][O:4][C:2]([CH3:1])=[O:3]"]), ["CC(O)=O"]),
        # Symmetric ether cleaved by hydrogen iodide: ethyl iodide and ethanol.
        ("run", ETHER_HI, ["CCOCC", "I"], 2, ["CCI"], [[2, 3, 4], []],
         (["CCO[CH2:2][CH3:1]", "[IH:3]"], ["[CH3:1][CH2:2][I:3]"]), ["CCO"]),
        # One number in two templates: the first template's oxygen is mapped,
        # the alcohol's leaves as water, in either input order.
        ("run", ESTER_REPEATED_3, ["CC(=O)O", "OC"], 1, ["COC(C)=O"], [[], [0]],
         (["[CH3:1][C:2]([OH:4])=[O:3]", "[CH3:5]O"], ["[CH3:5][O:4][C:2]([CH3:1])=[O:3]"]), ["O"]),
        ("run", ESTER_REPEATED_3, ["OC", "CC(=O)O"], 1, ["COC(C)=O"], [[0], []],
         (["[CH3:1]O", "[CH3:2][C:3]([OH:5])=[O:4]"], ["[CH3:1][O:5][C:3]([CH3:2])=[O:4]"]), ["O"]),
    ],
    ids=["anhydride", "anhydride_substrate", "ether", "across_templates", "across_templates_reversed"],
)
def test_repeated_reactant_map_numbers_map_their_first_atom(method, reaction, smiles, count, products, discarded,
                                                            mapped, byproducts):
    inputs = [mol(s) for s in smiles]
    run = getattr(quorix.parse_reaction(reaction), method)
    plain = run(inputs, byproducts=True)
    assert len(plain) == count
    o = plain[0]
    assert ([canonical(p) for p in o.products], o.discarded) == (products, discarded)
    assert (o.byproduct_verdict, [canonical(b) for b in o.byproducts]) == ("capped", byproducts)
    # Nothing is lost or counted twice: products and byproducts hold what the inputs held.
    made = o.products + o.byproducts
    for p in made:
        p.sanitize()
    assert total(made) == total(inputs)
    [m] = run(inputs, atom_mapping=True, max_products=1)
    assert ([canonical(r) for r in m.reactants], [canonical(p) for p in m.products]) == mapped
    assert m.discarded == discarded


@pytest.mark.parametrize("smarts, caret, message", [
    ("[C:1]>>[C+128:1]", 7, "方括号原子语法错误:产物模板的电荷超出 -128 到 127"),
    ("[C:1]>>[CH999:1]", 7, "方括号原子语法错误:产物模板的氢数超过 255"),
    ("[C:1]>>[C:1][#200]", 12, "方括号原子语法错误:产物模板的原子序数超过 118"),
])
def test_reactions_that_would_build_wrong_atoms_are_refused(smarts, caret, message):
    with pytest.raises(ValueError) as e:
        quorix.parse_reaction(smarts)
    assert str(e.value) == smarts + "\n" + " " * caret + "^ " + message


# ---- inputs that make an exhaustive search run away ---------------------------


def grid_smiles(side):
    """A side x side square grid of carbons: rows as dotted chains tied by ring bonds."""
    out = []
    for r in range(side):
        for k in range(side):
            out.append(("." if k == 0 and r else "") + "C")
            if r:
                out.append("%%(%d)" % (100 + k))
            if r + 1 < side:
                out.append("%%(%d)" % (100 + k))
    return "".join(out)


def numbered(atom, first, last, tail=""):
    return ".".join("[%s:%d]%s" % (atom, i, tail) for i in range(first, last + 1))


@pytest.mark.parametrize(
    "method, reaction, smiles, discarded",
    [
        # Eleven carbon templates and two nitrogen ones, one ammonia: no pairing.
        ("run", numbered("C", 1, 11) + "." + numbered("N", 12, 13) + ">>[C:1]", ["C"] * 12 + ["N"], None),
        # The slowest template takes atom 0, the next atom 1, ... template 0 atom 8.
        ("run_on_substrate", numbered("C", 1, 9) + ">>[C:1]", ["C" * 20], [list(range(8))]),
        # Six five-carbon templates cannot share one neopentane.
        ("run_on_substrate", numbered("C", 1, 6, "(C)(C)(C)C") + ">>[C:1]", ["CC(C)(C)C"], None),
        # One path of a 144-atom grid: all but its mapped end are discarded.
        ("run", "[C:1]" + "C" * 14 + ">>[C:1]", [grid_smiles(12)], 14),
        ("run", "[C:1]" + "C" * 15 + ">>[C:1]", [grid_smiles(12)], 15),
    ],
)
def test_first_product_without_walking_the_rest(method, reaction, smiles, discarded):
    r = quorix.parse_reaction(reaction)
    out = getattr(r, method)([mol(s) for s in smiles], max_products=1)
    if discarded is None:
        assert out == []
    elif isinstance(discarded, int):
        assert len(out) == 1
        assert len(out[0].discarded[0]) == discarded
        assert sum(p.num_atoms for p in out[0].products) == 144 - discarded
    else:
        assert len(out) == 1
        assert out[0].discarded == discarded
