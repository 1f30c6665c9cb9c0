// The Conformer class: a generated 3-D conformer with the hydrogen-completed
// molecule its coordinates belong to.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "chem/kekulize.hpp"
#include "io/molblock.hpp"
#include "io/wedge.hpp"
#include "python/classes.hpp"

namespace quorix::python {

Result new_conformer_object(PyConformer&& conformer) { return new_object(std::move(conformer)); }

namespace {

Result mol(const PyConformer& c) { return new_mol_object(core::MolBuilder(c.mol)); }

Result coords(const PyConformer& c) {
    return list_from(c.result.coords, [](const conf::Coord& p) { return coord_to_tuple(p[0], p[1], p[2]); });
}

Result energy(const PyConformer& c) { return to_py_float(c.result.energy); }
Result energy_before(const PyConformer& c) { return to_py_float(c.result.energy_before); }
Result converged(const PyConformer& c) { return to_py_bool(c.result.converged); }
Result iterations(const PyConformer& c) { return to_py_uint(c.result.iterations); }
Result chiral_total(const PyConformer& c) { return to_py_uint(c.result.chiral_total); }
Result chiral_ok(const PyConformer& c) { return to_py_uint(c.result.chiral_ok); }

// Three decimals; NaN and the infinities spelt as the reprs of this module spell them.
std::string three_decimals(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", x);
    return text;
}

Result repr(const PyConformer& c) {
    const conf::ConformerResult& r = c.result;
    return to_py_str("<quorix.Conformer atoms=" + std::to_string(r.coords.size()) + " energy=" +
                     three_decimals(r.energy) + " converged=" + (r.converged ? "True" : "False") +
                     " chiral=" + std::to_string(r.chiral_ok) + "/" + std::to_string(r.chiral_total) + ">");
}

constexpr const char* TO_MOLBLOCK_PARAMS[] = {"title"};
constexpr ParamSpec TO_MOLBLOCK_SPEC{"to_molblock", "Conformer", TO_MOLBLOCK_PARAMS, 0, {}};

Result to_molblock(const PyConformer& c, const Arguments& args) {
    QX_TRY(const std::string title, args.extract_or(0, extract_text, std::string()));
    core::MolBuilder kekule(c.mol);
    if (auto done = chem::kekulize(kekule); !done)
        return std::unexpected(lazy_value_error("凯库勒化失败:" + done.error().to_string()));
    std::vector<core::BondOrder> orders;
    orders.reserve(kekule.bonds.size());
    for (const core::Bond& b : kekule.bonds) orders.push_back(b.order);
    const std::vector<std::uint8_t> either = io::either_double_bonds(c.mol);
    io::MolblockWriteRequest request{title, c.result.coords, {}, orders, either};
    auto text = io::write_molblock(c.mol, request);
    if (!text) return std::unexpected(lazy_value_error(text.error().to_string()));
    return to_py_str(*text);
}

constexpr const char* CONFORMER_DOC =
    "一个三维构型。\n\n由 `Mol.conformer()` 产出。里面既有坐标,也有**坐标对应的\n那个分子** —— "
    "生成时补了显式氢,原子表与原分子不是同一份。";

constexpr const char* TO_MOLBLOCK_DOC =
    "to_molblock($self, title=\"\")\n--\n\n写成 V2000 molblock(`.mol` 文件的内容),末尾带 `M  END`。\n\n"
    "拼 `.sdf` 时每条后面接数据字段和 `$$$$`:\n\n```python\nwith open(\"out.sdf\", \"w\") as f:\n"
    "    for smi in smiles_list:\n        conf = quorix.parse_smiles(smi).conformer()\n"
    "        f.write(conf.to_molblock(title=smi))\n        f.write(\"$$$$\\n\")\n```\n\n"
    "**芳香键会先凯库勒化** —— molblock 里没有\"芳香键\"这回事,留着它写出去\n"
    "要么歧义、要么被读成饱和环。凯库勒化失败(比如芳香体系里有通配原子)时\n"
    "抛 `ValueError`,不写一个读回来是另一个分子的文件。\n\n"
    "第二行写的是程序名,**不写时间戳** —— 同一个分子每次写出都逐字节相同。";

// Class member order: mol, coords, energy, energy_before, converged,
// iterations, chiral_total, chiral_ok, to_svg, depiction_3d_report,
// to_molblock; the two drawing methods go in at their place with the 3-D scene.
const Member CONFORMER_MEMBERS[] = {
    property<&mol>("mol", "坐标对应的那个分子(补过显式氢的那一份)。"),
    property<&coords>("coords", "逐原子的 `(x, y, z)`,单位 Å,顺序与 [`mol`](Self::mol) 的原子表一致。"),
    property<&energy>("energy", "精修之后的误差函数值。0 表示所有距离都落进了界内。"),
    property<&energy_before>("energy_before",
                             "精修**之前**的误差函数值 —— 与 [`energy`](Self::energy) 一起看才知道精修干了多少活。"),
    property<&converged>("converged", "精修有没有收敛(梯度降到阈值以下)。"),
    property<&iterations>("iterations", "精修迭代了多少次。"),
    property<&chiral_total>("chiral_total", "手性中心总数。"),
    property<&chiral_ok>("chiral_ok",
                         "其中在交付坐标上号正确的个数。**应当等于\n[`chiral_total`](Self::chiral_total)** —— "
                         "不等就是把某个中心摆成了对映体。"),
    method<&to_molblock, TO_MOLBLOCK_SPEC>(TO_MOLBLOCK_DOC),
};

const ClassSpec CONFORMER_SPEC = class_spec<PyConformer, &repr>("Conformer", CONFORMER_DOC, CONFORMER_MEMBERS);

}  // namespace

ClassObject conformer_class{CONFORMER_SPEC};

}  // namespace quorix::python
