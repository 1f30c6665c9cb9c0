// The SdfRecord class and read_sdf: one record per record of the file, the
// unreadable ones included, each carrying its error instead of raising.
#include <string>

#include "python/classes.hpp"
#include "python/finish.hpp"

namespace quorix::python {

namespace {

Result block(const PySdfRecord& r) {
    if (!r.block) return py_none();
    return new_molblock_object(PyMolblock(*r.block));
}

Result data(const PySdfRecord& r) {
    return list_from(r.data, [](const io::DataItem& d) { return data_field_to_tuple(d.first, d.second); });
}

Result error(const PySdfRecord& r) { return r.error ? to_py_str(*r.error) : py_none(); }

Result repr(const PySdfRecord& r) {
    if (r.error) return to_py_str("<quorix.SdfRecord 读不了:" + *r.error + ">");
    const std::size_t atoms = r.block ? r.block->mol.atoms.size() : 0;
    return to_py_str("<quorix.SdfRecord " + std::to_string(atoms) + " atoms, " + std::to_string(r.data.size()) +
                     " fields>");
}

constexpr Member SDF_RECORD_MEMBERS[] = {
    property<&block>("block", "分子那一段。这条读不了时是 `None`。"),
    property<&data>("data", "数据字段,按文件里出现的顺序,`list[tuple[str, str]]`。\n\n**不是字典**:同名字段在真实文件里出现过(供应商把多次测量各写一行),\n换成字典会静默地只留最后一条。名字重不重是调用方的判断。\n\n这条读不了时是空的。"),
    property<&error>("error", "这条读不了的原因;读得了时是 `None`。"),
};

constexpr ClassSpec SDF_RECORD_SPEC =
    class_spec<PySdfRecord, &repr>("SdfRecord", "SDF 里的一条记录。\n\n**读不了的那条也在这里**,`error` 不是 `None`,`block` 是 `None` ——\n见 `read_sdf` 的文档。", SDF_RECORD_MEMBERS);

constexpr const char* READ_SDF_PARAMS[] = {"text"};
constexpr ParamSpec READ_SDF_SPEC{"read_sdf", nullptr, READ_SDF_PARAMS, 1, {}};

// Every record is parsed before the first object is made.
Result read_sdf(const Arguments& args) {
    QX_TRY(const std::string text, args.extract(0, extract_text));
    std::vector<PySdfRecord> records = read_sdf_records(text);
    PyRef list = new_list(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        QX_TRY(PyRef obj, new_object(std::move(records[i])));
        list_set(list.get(), i, std::move(obj));
    }
    return list;
}

constexpr const char* READ_SDF_DOC =
    "read_sdf(text)\n--\n\n逐条读一个 SDF(`.sdf` 文件的内容),返回 `list[SdfRecord]`。"
    "\n\n"
    "# 读不了的那条**不抛异常,也不消失**\n\n"
    "列表里每条记录都有它的位置。遇到坏记录就抛异常,会把它后面的记录全丢掉;\n"
    "悄悄跳过,调用方数出来的条数就和文件对不上,而且没有任何报告。所以读不了的\n"
    "那条照样占一个位置:`error` 是一句说明,`block` 是 `None`。\n\n"
    "```python\n"
    "for rec in quorix.read_sdf(text):\n"
    "    if rec.error is not None:\n"
    "        print(\"读不了:\", rec.error)\n"
    "    else:\n"
    "        print(rec.block.mol.to_canonical_smiles(), rec.data)\n"
    "```\n\n"
    "真实数据里确实有这样的记录,比如茂金属配合物:键数超出 V2000 能表达的范围,\n"
    "生产方把它写成了 V3000,而本模块拒收 V3000。\n\n"
    "# 整份读进内存\n\n"
    "文本作为 `str` 参数已经整份在内存里,而且所有记录都解析完才返回列表。\n"
    "几十万条记录的大文件,峰值内存要按这个估算。\n\n"
    "# 立体与 `parse_molblock` 同一条路\n\n"
    "每条记录都走读、净化、打立体标记,与单条 molblock 的函数是同一段代码,三维\n"
    "文件也一样,走哪条路由坐标决定。";

}  // namespace

ClassObject sdf_record_class{SDF_RECORD_SPEC};

PyMethodDef read_sdf_def = function_def<&read_sdf, READ_SDF_SPEC>(READ_SDF_DOC);

}  // namespace quorix::python
