// The module functions that turn line notations into objects.
#include <string>

#include "io/smiles/read.hpp"
#include "python/classes.hpp"

namespace quorix::python {

namespace {

constexpr const char* PARSE_SMILES_PARAMS[] = {"smiles"};
constexpr ParamSpec PARSE_SMILES_SPEC{"parse_smiles", nullptr, PARSE_SMILES_PARAMS, 1, {}};

Result parse_smiles(const Arguments& args) {
    QX_TRY(std::string text, args.extract(0, extract_text));
    auto mol = io::read_smiles(text);
    if (!mol) return std::unexpected(lazy_value_error(mol.error().caret_view()));
    return new_mol_object(std::move(*mol));
}

constexpr const char* PARSE_SMILES_DOC =
    "parse_smiles(smiles)\n"
    "--\n"
    "\n"
    "解析 SMILES,返回一个 `Mol`。\n"
    "\n"
    "解析失败时抛 `ValueError`,消息里带插字号视图指出出错在第几个字符。\n"
    "\n"
    "**只解析,不净化。** 芳香标志、环信息、隐式氢数、杂化都还是空的 ——\n"
    "要用它们(或者要写规范 SMILES、要画图、要描述符)先调 `Mol.sanitize()`。";

}  // namespace

PyMethodDef parse_smiles_def = function_def<&parse_smiles, PARSE_SMILES_SPEC>(PARSE_SMILES_DOC);

}  // namespace quorix::python
