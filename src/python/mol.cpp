// The Mol class: one MolBuilder owned by one Python object.
#include <array>
#include <bit>
#include <string>

#include "chem/descriptors.hpp"
#include "chem/remove_hs.hpp"
#include "chem/sanitize.hpp"
#include "core/error.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/write.hpp"
#include "io/stereo.hpp"
#include "python/classes.hpp"
#include "python/depiction.hpp"

namespace quorix::python {

using core::Bond;
using core::MolBuilder;

Result new_mol_object(MolBuilder&& mol) { return new_object(std::move(mol)); }

Result mols_to_list(std::vector<MolBuilder>&& mols) {
    PyRef list = new_list(mols.size());
    for (std::size_t i = 0; i < mols.size(); ++i) {
        QX_TRY(PyRef obj, new_mol_object(std::move(mols[i])));
        list_set(list.get(), i, std::move(obj));
    }
    mols.clear();
    return list;
}

namespace {

constexpr std::array<const char*, 7> BOND_ORDER_NAMES = {
    "unspecified", "single", "double", "triple", "quadruple", "aromatic", "dative",
};
constexpr std::array<const char*, 5> BOND_STEREO_NAMES = {"none", "z", "e", "cis", "trans"};
constexpr std::array<const char*, 7> CHIRAL_TAG_NAMES = {
    "unspecified", "cw", "ccw", "allene", "square_planar", "trigonal_bipyramidal", "octahedral",
};
constexpr std::array<const char*, 8> HYBRIDIZATION_NAMES = {
    "unspecified", "s", "sp", "sp2", "sp3", "sp2d", "sp3d", "sp3d2",
};

Result num_atoms(const MolBuilder& m) { return to_py_uint(m.atoms.size()); }

Result num_bonds(const MolBuilder& m) { return to_py_uint(m.bonds.size()); }

Result atomic_nums(const MolBuilder& m) {
    return list_from(m.atoms, [](const core::Atom& a) { return to_py_uint(a.atomic_num); });
}

Result formal_charges(const MolBuilder& m) {
    return list_from(m.atoms, [](const core::Atom& a) { return to_py_int(a.formal_charge); });
}

Result bonds(const MolBuilder& m) {
    return list_from(m.bonds, [](const Bond& b) { return bond_to_tuple(b.begin, b.end, core::as_double(b.order)); });
}

// One bond as the descriptor dictionary reads it.
struct StagedBond {
    bool has_stereo_pair;
    std::array<std::uint32_t, 2> stereo_atoms;
    std::uint32_t begin, end;
    bool is_conjugated, is_in_ring;
    std::uint8_t stereo, order;
};

Result bond_descriptors(const MolBuilder& m) {
    std::vector<StagedBond> staged;
    staged.reserve(m.bonds.size());
    for (const Bond& b : m.bonds) {
        const bool pair = b.stereo != core::BondStereo::None && b.stereo_atoms[0] != core::NONE &&
                          b.stereo_atoms[1] != core::NONE;
        staged.push_back(StagedBond{pair, b.stereo_atoms, b.begin, b.end, (b.flags & core::CONJUGATED) != 0,
                                    (b.flags & core::IN_RING) != 0, static_cast<std::uint8_t>(b.stereo),
                                    static_cast<std::uint8_t>(b.order)});
    }
    std::vector<PyRef> dicts;
    dicts.reserve(staged.size());
    for (const StagedBond& s : staged) {
        Dict d;
        QX_CHECK(d.set("begin", to_py_uint(s.begin)));
        QX_CHECK(d.set("end", to_py_uint(s.end)));
        QX_CHECK(d.set("order", to_py_str(at(BOND_ORDER_NAMES, s.order))));
        QX_CHECK(d.set("is_conjugated", to_py_bool(s.is_conjugated)));
        QX_CHECK(d.set("is_in_ring", to_py_bool(s.is_in_ring)));
        QX_CHECK(d.set("stereo", to_py_str(at(BOND_STEREO_NAMES, s.stereo))));
        QX_CHECK(d.set("stereo_atoms",
                       s.has_stereo_pair ? pair_to_tuple(s.stereo_atoms[0], s.stereo_atoms[1]) : py_none()));
        dicts.push_back(d.take());
    }
    return objects_to_list(std::move(dicts));
}

// In place, under the exclusive borrow; a failure leaves whatever the steps
// before it changed. Cis/trans from directional bonds runs only on success.
Result sanitize(MolBuilder& m) {
    if (auto done = chem::sanitize(m); !done) return std::unexpected(lazy_value_error(done.error().to_string()));
    io::double_bond_stereo(m);
    return py_none();
}

Result to_smiles(const MolBuilder& m) {
    std::vector<std::uint32_t> identity(m.atoms.size());
    for (std::uint32_t i = 0; i < identity.size(); ++i) identity[i] = i;
    return to_py_str(io::write_smiles(m, identity, io::SmilesMode::Storage).text);
}

Result to_canonical_smiles(const MolBuilder& m) { return to_py_str(io::canonical_smiles(m).text); }

Result remove_hs(MolBuilder& m) { return to_py_uint(chem::remove_hs(m)); }

// Finite exactly when the magnitude bits are below those of infinity.
bool finite_bits(double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x) & 0x7FFF'FFFF'FFFF'FFFFull;
    return bits < 0x7FF0'0000'0000'0000ull;
}

Result atom_descriptors(const MolBuilder& m) {
    const std::vector<chem::AtomDescriptor> records = chem::atom_descriptors(m);
    std::vector<PyRef> dicts;
    dicts.reserve(records.size());
    for (const chem::AtomDescriptor& r : records) {
        Dict d;
        QX_CHECK(d.set("atomic_num", to_py_uint(r.atomic_num)));
        QX_CHECK(d.set("total_degree", to_py_uint(r.total_degree)));
        QX_CHECK(d.set("formal_charge", to_py_int(r.formal_charge)));
        QX_CHECK(d.set("chiral_tag", to_py_str(at(CHIRAL_TAG_NAMES, r.chiral_tag))));
        QX_CHECK(d.set("total_num_hs", to_py_uint(r.total_num_hs)));
        QX_CHECK(d.set("hybridization", to_py_str(at(HYBRIDIZATION_NAMES, r.hybridization))));
        QX_CHECK(d.set("is_aromatic", to_py_bool(r.is_aromatic != 0)));
        QX_CHECK(d.set("is_in_ring", to_py_bool(r.is_in_ring != 0)));
        QX_CHECK(d.set("mass", to_py_float(r.mass)));
        QX_CHECK(d.set("electronegativity", r.electronegativity ? to_py_float(*r.electronegativity) : py_none()));
        QX_CHECK(d.set("gasteiger_charge", to_py_float(r.gasteiger_charge)));
        QX_CHECK(d.set("gasteiger_valid", to_py_bool(finite_bits(r.gasteiger_charge))));
        dicts.push_back(d.take());
    }
    return objects_to_list(std::move(dicts));
}

Result conformer(const MolBuilder& m) {
    MolBuilder copy(m);
    auto result = conf::conformer_for(copy);
    if (!result) return std::unexpected(lazy_value_error(result.error().to_string()));
    return new_conformer_object(PyConformer{std::move(copy), std::move(*result)});
}

Result copy(const MolBuilder& m) { return new_mol_object(MolBuilder(m)); }

constexpr const char* TO_MOLBLOCK_2D_PARAMS[] = {"title"};
constexpr ParamSpec TO_MOLBLOCK_2D_SPEC{"to_molblock_2d", "Mol", TO_MOLBLOCK_2D_PARAMS, 0, {}};

Result to_molblock_2d(const MolBuilder& m, const Arguments& args) {
    QX_TRY(const std::string title, args.extract_or(0, extract_text, std::string()));
    auto text = molblock_2d(m, title);
    if (!text) return std::unexpected(lazy_value_error(std::move(text.error())));
    return to_py_str(*text);
}

Result depiction_report(const MolBuilder& m) {
    MolBuilder copy(m);
    auto drawing = depict_copy(copy);
    if (!drawing) return std::unexpected(lazy_value_error(std::move(drawing.error())));
    static Key degraded("degraded"), unresolved("unresolved"), crossings("crossings"), unwedged("unwedged"),
        misdrawn_stereo("misdrawn_stereo");
    Dict d;
    QX_CHECK(d.set(degraded, list_from(drawing->degraded, [](const depict::Degradation& g) {
                       return to_py_str(depict::degradation_text(g));
                   })));
    QX_CHECK(set_pair_list_item(d, unresolved, drawing->unresolved));
    QX_CHECK(set_pair_list_item(d, crossings, drawing->crossings));
    QX_CHECK(set_index_list_item(d, unwedged, drawing->unwedged));
    QX_CHECK(set_index_list_item(d, misdrawn_stereo, drawing->misdrawn_stereo));
    return d.take();
}

Result repr(const MolBuilder& m) {
    return to_py_str("<quorix.Mol " + std::to_string(m.atoms.size()) + " atoms, " + std::to_string(m.bonds.size()) +
                     " bonds>");
}

constexpr const char* MOL_DOC =
    "一个分子。\n\n"
    "对应引擎里的 `MolBuilder`:逐个分子、可以改动的表示,适合搭建和改写分子图。\n"
    "按列存放许多分子的 `MolBatch` 是另一回事,要等批量接口时一起开放。";

constexpr const char* ATOMIC_NUMS_DOC =
    "逐原子的原子序数,按存储顺序。\n\n"
    "返回 `list[int]`。\n\n"
    "每个值逐个转换成 int 放进列表。把逐原子的字节数组原样交出去会得到 `bytes`:\n"
    "下标取出来也是 int、长度也对,类型却是错的,而且一声不响。";

constexpr const char* SANITIZE_DOC =
    "sanitize($self)\n--\n\n"
    "跑净化管线,再把双键的方向键换算成双键**自己的**顺反属性。\n\n"
    "**就地修改**,失败时抛 `ValueError`。\n\n"
    "失败之后分子可能已经被改了一部分;要全有或全无,先 `copy()` 再净化副本。本方法\n"
    "不自带保护性拷贝:悄悄多做一次深拷贝会让批量处理的开销翻倍,调用方却毫不知情。\n\n"
    "顺反感知不是净化的十二步之一:它要用对称类,而对称类在净化之上一层(原因写在\n"
    "`quorix_io::stereo`),所以引擎把它留给调用方,在净化之后自己跑。\n\n"
    "到了 Python 这一侧,这个约定是个陷阱:反应一旦改动一个双键几何只靠方向单键记着\n"
    "的分子,携带方向的那根单键可能被删掉,几何随之丢失,而双键本身从没被碰过,产物\n"
    "照样合法、原子数也对。\n\n"
    "方向是记法,顺反是性质:一经感知,这个值就存在双键上,只要它的两个参照原子还在\n"
    "就一直有效,所以这一步并进了 `sanitize`。";

constexpr const char* CONFORMER_DOC =
    "conformer($self)\n--\n\n生成一个三维构型。\n\n"
    "不改动接收者:先深拷贝分子,在副本上净化、感知顺反、补显式氢,然后才生成。所以\n"
    "返回的 `Conformer` 的 `mol` 通常比接收者多出一些原子(补上的氢),它的 `coords`\n"
    "跟的是那个分子的原子表,不是接收者的。\n\n"
    "这些步骤的先后和理由归引擎(`conformer_for`)管,绑定层不做任何化学。\n\n"
    "全程无随机数:同一个分子每次都给同一组坐标。\n\n"
    "净化过不去、界矩阵自相矛盾时抛 `ValueError`。";

constexpr const char* BONDS_DOC =
    "逐键的 `(begin, end, 键级)`,按存储顺序。返回 `list[tuple[int, int, float]]`。\n\n"
    "键级就是引擎自己的数值:未指定 0.0、单键 1.0、双键 2.0、三键 3.0、四重键 4.0、\n"
    "芳香键 1.5、配位键 1.0 —— 没有为 Python 另编一套号。";

constexpr const char* REMOVE_HS_DOC =
    "remove_hs($self)\n--\n\n把可以合并的显式氢并进邻居的氢计数,返回删掉的氢原子数。\n\n"
    "**就地修改,而且原子下标会全部改变** —— 删原子必然重排下标。带同位素、\n"
    "电荷、映射号、自由基的氢,以及桥氢与承载双键方向的氢都会留着:多留一个\n"
    "只是图里多个节点,删错会丢信息。";

constexpr const char* ATOM_DESCRIPTORS_DOC =
    "atom_descriptors($self)\n--\n\n"
    "逐原子的描述符,按存储顺序。返回 `list[dict]`。\n\n"
    "每个字典 12 个键:\n\n"
    "| 键 | 类型 | 含义 |\n"
    "|---|---|---|\n"
    "| `atomic_num` | int | 原子序数,通配原子 `*` 为 0 |\n"
    "| `total_degree` | int | 显式邻居数加上全部氢数 |\n"
    "| `formal_charge` | int | 形式电荷 |\n"
    "| `chiral_tag` | str | 手性标记的几何类别,不是 R/S |\n"
    "| `total_num_hs` | int | 声明的氢加隐式氢;图里单独的氢原子不算 |\n"
    "| `hybridization` | str | 杂化类型 |\n"
    "| `is_aromatic` | bool | 芳香标记 |\n"
    "| `is_in_ring` | bool | 成环标记 |\n"
    "| `mass` | float | 标了同位素时取该同位素的精确质量,否则取标准原子量 |\n"
    "| `electronegativity` | float 或 None | Pauling 电负性 |\n"
    "| `gasteiger_charge` | float | Gasteiger 部分电荷,可能是 nan 或 inf |\n"
    "| `gasteiger_valid` | bool | `gasteiger_charge` 是有限数时为 True |\n\n"
    "# 类别值给名字\n\n"
    "类别值给的是名字(\"sp3\"、\"ccw\"),既不是 one-hot 也不是整数编码:词表收哪些\n"
    "元素、要不要留一个兜底的桶,是特征化的人的决定,不是库的决定。\n\n"
    "# None 与 gasteiger_valid\n\n"
    "`electronegativity` 为 None 表示该元素没有公认的 Pauling 值(稀有气体、Pm、Eu、\n"
    "Tb、Yb、Fr 等)。`gasteiger_valid` 为 False 表示原子落在 Gasteiger 参数表之外\n"
    "(多数金属),这时电荷是 nan 或 inf,并会沿着图扩散,同一分子里的碳也可能跟着\n"
    "失效。两者都原样交出,从不替换成 0:缺失的值和恰好为零的值要分得开。\n\n"
    "# 先净化\n\n"
    "分子要先 `sanitize()`。不净化不报错,但芳香性、环、杂化、共轭和隐式氢数都是\n"
    "解析器留下的占位值。";

constexpr const char* BOND_DESCRIPTORS_DOC =
    "bond_descriptors($self)\n--\n\n"
    "逐键的描述符,按存储顺序。返回 `list[dict]`。\n\n"
    "每个字典 7 个键:`begin`、`end`、`order`、`is_conjugated`、`is_in_ring`、`stereo`、\n"
    "`stereo_atoms`。\n\n"
    "# 给的是 cis/trans,不是 Z/E\n\n"
    "Z/E 由 CIP 优先级定义,本库不实现 CIP。cis/trans 是相对 `stereo_atoms` 那两个\n"
    "原子说的,两个键必须一起读:四取代双键上换一对参照原子,同一个几何会给出相反\n"
    "的值。带上参照原子,cis/trans 与 Z/E 承载同样的几何信息;要 Z/E 的调用方自己\n"
    "按 CIP 排序。没有 cis/trans 时 `stereo_atoms` 是 `None`。\n\n"
    "# 先净化\n\n"
    "`sanitize()` 同时会填上 cis/trans。不净化不报错,但每根双键的 `stereo` 都是\n"
    "\"none\"。";

// The order of this table is the class's member order; later members go in
// at their place: num_atoms, num_bonds, atomic_nums, sanitize, to_smiles,
// to_canonical_smiles, remove_hs, formal_charges, bonds, conformer,
// to_molblock_2d, depiction_report, atom_descriptors, bond_descriptors, copy.
constexpr const char* TO_MOLBLOCK_2D_DOC =
    "to_molblock_2d($self, title=\"\")\n--\n\n"
    "画一张二维结构图,写成 V2000 molblock(`.mol` 文件的内容)。\n\n"
    "不改动接收者:先深拷贝,在副本上净化、识别顺反,再排布。\n\n"
    "立体化学由楔形键表达,而不是坐标:写在键块第四列(1 实楔形,6 虚楔形)。\n\n"
    "为了画出一个手性中心的构型,排布有时会补一根显式的碳–氢键来承载楔形,所以写出的原子数"
    "可能比分子的多,和 `Conformer` 一样。画不出构型的中心写成没有立体标记,而不是猜一个。\n\n"
    "`Conformer.to_molblock` 写三维,立体信息在坐标里,没有楔形;本方法写二维,所有 z 都是 0,"
    "立体信息只在楔形里。读的一方看坐标是不是平的就能区分两者。\n\n"
    "芳香键先凯库勒化再写出。第二行是程序名,不带时间戳。\n\n"
    "净化过不去、或者分子大到 V2000 装不下(原子或键超过 999)时抛 `ValueError`。";

constexpr const char* DEPICTION_REPORT_DOC =
    "depiction_report($self)\n--\n\n"
    "画这个分子时**没能画好的地方**,返回 `dict[str, list]`。\n\n"
    "| 键 | 内容 |\n"
    "|---|---|\n"
    "| `degraded` | 排布不得不降级的地方(比如桥环),每处一条说明文字 |\n"
    "| `unresolved` | 消除碰撞之后仍然挤在一起的原子对 |\n"
    "| `crossings` | 仍然交叉的键对 |\n"
    "| `unwedged` | 图上没有表达出构型的手性中心;平面四方、三角双锥、八面体中心一律在内 |\n"
    "| `misdrawn_stereo` | 画出来的几何与记录的顺反相矛盾的双键;八元及更大环里的反式双键一律在内,"
    "因为环画成凸多边形,环里的双键都画成顺式 |\n\n"
    "五个都是空的,这张图才把分子完整地表达出来了。\n\n"
    "下标指画出来的那个分子:它可能带着为承载楔形而补的显式氢,原子数因此多于 `num_atoms`;"
    "它的前 `num_atoms` 个原子与接收者的原子一一对应。\n\n"
    "净化过不去时抛 `ValueError`。";

const Member MOL_MEMBERS[] = {
    property<&num_atoms>("num_atoms", "原子数。"),
    property<&num_bonds>("num_bonds", "键数。"),
    property<&atomic_nums>("atomic_nums", ATOMIC_NUMS_DOC),
    method<&sanitize>("sanitize", SANITIZE_DOC),
    method<&to_smiles>("to_smiles", "to_smiles($self)\n--\n\n写成 SMILES,按当前的原子存储顺序。"),
    method<&to_canonical_smiles>("to_canonical_smiles",
                                 "to_canonical_smiles($self)\n--\n\n"
                                 "写成规范 SMILES —— 同一个分子无论原子怎么编号,都得到同一个字符串。"),
    method<&remove_hs>("remove_hs", REMOVE_HS_DOC),
    property<&formal_charges>("formal_charges", "逐原子的形式电荷,按存储顺序。返回 `list[int]`。"),
    property<&bonds>("bonds", BONDS_DOC),
    method<&conformer>("conformer", CONFORMER_DOC),
    method<&to_molblock_2d, TO_MOLBLOCK_2D_SPEC>(TO_MOLBLOCK_2D_DOC),
    method<&depiction_report>("depiction_report", DEPICTION_REPORT_DOC),
    method<&atom_descriptors>("atom_descriptors", ATOM_DESCRIPTORS_DOC),
    method<&bond_descriptors>("bond_descriptors", BOND_DESCRIPTORS_DOC),
    method<&copy>("copy", "copy($self)\n--\n\n深拷贝。"),
};

const ClassSpec MOL_SPEC = class_spec<MolBuilder, &repr>("Mol", MOL_DOC, MOL_MEMBERS);

}  // namespace

ClassObject mol_class{MOL_SPEC};

}  // namespace quorix::python
