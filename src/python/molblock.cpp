// The Molblock class and parse_molblock: a finished molblock with the file's
// coordinates and title.
#include <string>

#include "io/error.hpp"
#include "io/molblock.hpp"
#include "python/classes.hpp"
#include "python/finish.hpp"

namespace quorix::python {

Result new_molblock_object(PyMolblock&& block) { return new_object(std::move(block)); }

namespace {

Result mol(const PyMolblock& b) { return new_mol_object(core::MolBuilder(b.mol)); }

Result coords(const PyMolblock& b) {
    return list_from(b.coords, [](const io::Coord& c) { return coord_to_tuple(c[0], c[1], c[2]); });
}

Result title(const PyMolblock& b) { return to_py_str(b.title); }

Result is_3d(const PyMolblock& b) { return to_py_bool(b.is_3d); }

Result repr(const PyMolblock& b) {
    std::string text = "<quorix.Molblock " + std::to_string(b.mol.atoms.size()) + " atoms " + (b.is_3d ? "3" : "2") + "D";
    if (!b.title.empty()) text += " " + io::string_literal(b.title);
    return to_py_str(text + ">");
}

constexpr Member MOLBLOCK_MEMBERS[] = {
    property<&mol>("mol", "分子。**已经净化过,立体也打上了** —— 二维靠楔形与平面投影,\n三维靠有符号体积与二面角,两条路都接上了。"),
    property<&coords>("coords", "逐原子的 `(x, y, z)`,顺序与 [`mol`](Self::mol) 的原子表一致。\n\n二维图的 `z` 一律是 0。"),
    property<&title>("title", "文件第一行的标题。"),
    property<&is_3d>("is_3d", "坐标是不是三维的(有任何一个 `z` 不为 0)。\n\n文件里没有哪个字段直说这件事,只能这么判 —— 与外部实现同法。"),
};

constexpr ClassSpec MOLBLOCK_SPEC = class_spec<PyMolblock, &repr>("Molblock", "一个从 `.mol` / `.sdf` 文件读出来的记录:分子,加上它在文件里的坐标。\n\n由 `parse_molblock` 产出。分开成一个类而不是直接给 `Mol`,是因为坐标\n**不在** `Mol` 里:molblock 的立体化学一半靠坐标表达,把坐标丢掉等于把这一半\n丢掉,而丢的时候一声不响。", MOLBLOCK_MEMBERS);

constexpr const char* PARSE_MOLBLOCK_PARAMS[] = {"text"};
constexpr ParamSpec PARSE_MOLBLOCK_SPEC{"parse_molblock", nullptr, PARSE_MOLBLOCK_PARAMS, 1, {}};

Result parse_molblock(const Arguments& args) {
    QX_TRY(const std::string text, args.extract(0, extract_text));
    auto parsed = io::read_molblock(text);
    if (!parsed) return std::unexpected(lazy_value_error(parsed.error().to_string()));
    auto block = finish_molblock(std::move(*parsed));
    if (!block) return std::unexpected(lazy_value_error(std::move(block.error())));
    return new_molblock_object(std::move(*block));
}

constexpr const char* PARSE_MOLBLOCK_DOC =
    "parse_molblock(text)\n--\n\n读一条 V2000 molblock(`.mol` 文件的内容,或 `.sdf` 里 `$$$$` 之前的一段)。\n\n读不出来时抛 `ValueError`,消息里说明是哪一行的什么字段 —— V3000 会被明确\n拒收,而不是当成 V2000 硬读出一个错分子。"
    "\n\n"
    "# 它替你多做了两步,而且必须多做\n\n"
    "`parse_smiles` 只解析、不净化;这里不一样。molblock 的立体化学一半不在分子图里,\n"
    "而在 `Mol` 之外的坐标和楔形键上,要把它们换算成手性标记与顺反,又离不开净化\n"
    "才算得出的隐式氢数和对称类。所以顺序只能是:读、净化、再回头打立体标记。\n"
    "把中间那步留给调用方,整份文件的立体就会被一声不响地丢掉 —— `Mol.sanitize`\n"
    "把顺反感知并进去也是同一个道理。\n\n"
    "# 二维三维都读立体\n\n"
    "二维输入的手性取自楔形键,顺反取自平面投影;三维输入的手性取自有符号体积,\n"
    "顺反取自二面角。走哪条路由坐标决定:任何一个 `z` 不为 0 就是三维。单条\n"
    "molblock 与整份 SDF 走的是同一条路。";

}  // namespace

ClassObject molblock_class{MOLBLOCK_SPEC};

PyMethodDef parse_molblock_def = function_def<&parse_molblock, PARSE_MOLBLOCK_SPEC>(PARSE_MOLBLOCK_DOC);

}  // namespace quorix::python
