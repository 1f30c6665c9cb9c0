// The Conformer class: a generated 3-D conformer with the hydrogen-completed
// molecule its coordinates belong to.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "chem/kekulize.hpp"
#include "depict/render.hpp"
#include "depict/style.hpp"
#include "depict/three.hpp"
#include "io/error.hpp"
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

constexpr const char* STYLE_PARAMS[] = {"style"};
constexpr ParamSpec TO_SVG_SPEC{"to_svg", "Conformer", STYLE_PARAMS, 0, {}};
constexpr ParamSpec DEPICTION_3D_REPORT_SPEC{"depiction_3d_report", "Conformer", STYLE_PARAMS, 0, {}};

// Exact, case-sensitive; anything else names the four it knows.
Expected<const depict::Style3d*> style_for_name(std::string_view name) {
    if (const depict::Style3d* style = depict::style_3d(name)) return style;
    std::string known;
    for (const depict::Style3d& s : depict::STYLES_3D) {
        if (!known.empty()) known += "、";
        known += s.name;
    }
    return std::unexpected(lazy_value_error("不认识的三维样式 " + io::string_literal(name) + ";认识的是:" + known));
}

Expected<depict::Scene3d> scene_for(const PyConformer& c, const Arguments& args) {
    QX_TRY(const std::string name, args.extract_or(0, extract_text, std::string("ball-and-stick")));
    QX_TRY(const depict::Style3d* style, style_for_name(name));
    auto scene = depict::build_scene_3d(c.mol, c.result.coords, *style);
    if (!scene) return std::unexpected(lazy_value_error(depict::to_string(scene.error())));
    return std::move(*scene);
}

Result to_svg(const PyConformer& c, const Arguments& args) {
    QX_TRY(const depict::Scene3d scene, scene_for(c, args));
    return to_py_str(depict::write_svg(scene, depict::STYLE_2D));
}

Result depiction_3d_report(const PyConformer& c, const Arguments& args) {
    QX_TRY(const depict::Scene3d scene, scene_for(c, args));
    Dict report;
    QX_CHECK(report.set("style", to_py_str(scene.style_name)));
    QX_CHECK(report.set("width", to_py_float(scene.width)));
    QX_CHECK(report.set("height", to_py_float(scene.height)));
    QX_CHECK(report.set("degenerate", to_py_bool(scene.axes.degenerate)));
    std::vector<PyRef> atoms;
    atoms.reserve(scene.atoms.size());
    for (const depict::SceneAtom& a : scene.atoms) {
        Dict atom;
        QX_CHECK(atom.set("x", to_py_float(a.x)));
        QX_CHECK(atom.set("y", to_py_float(a.y)));
        QX_CHECK(atom.set("radius", to_py_float(a.radius)));
        QX_CHECK(atom.set("depth", to_py_float(a.depth)));
        atoms.push_back(atom.take());
    }
    QX_CHECK(set_atoms_item(report, objects_to_list(std::move(atoms))));
    return report.take();
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

constexpr const char* TO_SVG_DOC =
    "to_svg($self, style=\"ball-and-stick\")\n"
    "--\n"
    "\n"
    "画成**三维分子图**,返回一段 SVG。\n"
    "\n"
    "`style` 是四套样式之一,名字和各半径沿用一个常用开源分子查看器的标准渲染样式:\n"
    "\n"
    "| `style` | 球半径 | 键(圆柱)半径 | 看什么 |\n"
    "|---|---|---|---|\n"
    "| `\"space-filling\"` | 100% 范德华半径 | 不画 | 分子占多大地方 |\n"
    "| `\"ball-and-stick\"`(默认) | 23% vdW | 0.15 Å | 键长键角、构型 |\n"
    "| `\"stick\"` | 与键同粗 | 0.30 Å | 骨架走向 |\n"
    "| `\"wireframe\"` | 不画 | 0.01 Å | 大体系、快速预览 |\n"
    "\n"
    "原子按元素着 CPK 色,**键的两半各随自己那一端的颜色**。\n"
    "\n"
    "```python\n"
    "conf = quorix.parse_smiles(\"CC(=O)Oc1ccccc1C(=O)O\").conformer()\n"
    "with open(\"aspirin.svg\", \"w\") as f:\n"
    "    f.write(conf.to_svg())\n"
    "```\n"
    "\n"
    "画的是 [`mol`](Self::mol) 那一份(补过显式氢的)—— 三维图里氢是看得见的\n"
    "实体,不画的话读图的人看到的是另一个分子。\n"
    "\n"
    "`style` 不认识时抛 `ValueError`,并把认识的四个列出来。";

constexpr const char* DEPICTION_3D_REPORT_DOC =
    "depiction_3d_report($self, style=\"ball-and-stick\")\n"
    "--\n"
    "\n"
    "三维图的诊断:视角定不定得下来,以及每个原子落在画布哪里。\n"
    "\n"
    "返回的字典:\n"
    "\n"
    "| 键 | 内容 |\n"
    "|---|---|\n"
    "| `style` | 用的哪套样式 |\n"
    "| `width`、`height` | 画布尺寸(磅) |\n"
    "| `degenerate` | **主轴不唯一**。对称性强制两个主惯量相等时为真(甲烷、四氯化碳、氨、乙炔)。图不是错的,但它的取向没有承载任何信息 —— 别照着它比两个分子的姿态 |\n"
    "| `atoms` | 每个原子一项:`x`、`y`(画布坐标,磅)、`radius`(球半径,磅,不画球的样式是 0)、`depth`(深度,Å,越大越靠前) |\n"
    "\n"
    "想在图上加标注就用 `atoms` —— SVG 里的圆没有原子号,从图形反推是猜。";

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
    method<&to_svg, TO_SVG_SPEC>(TO_SVG_DOC),
    method<&depiction_3d_report, DEPICTION_3D_REPORT_SPEC>(DEPICTION_3D_REPORT_DOC),
    method<&to_molblock, TO_MOLBLOCK_SPEC>(TO_MOLBLOCK_DOC),
};

const ClassSpec CONFORMER_SPEC = class_spec<PyConformer, &repr>("Conformer", CONFORMER_DOC, CONFORMER_MEMBERS);

}  // namespace

ClassObject conformer_class{CONFORMER_SPEC};

}  // namespace quorix::python
