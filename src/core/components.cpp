#include "core/components.hpp"

namespace quorix::core {

std::vector<std::uint32_t> connected_components(const MolBuilder& mol) {
    std::vector<std::uint32_t> id(mol.num_atoms(), NONE);
    std::vector<std::uint32_t> stack;
    std::uint32_t next = 0;
    for (std::uint32_t s = 0; s < mol.num_atoms(); ++s) {
        if (id[s] != NONE) continue;
        id[s] = next;
        stack.push_back(s);
        while (!stack.empty()) {
            const std::uint32_t u = stack.back();
            stack.pop_back();
            for (Neighbor nb : mol.neighbors(u)) {
                if (id[nb.atom] != NONE) continue;
                id[nb.atom] = next;
                stack.push_back(nb.atom);
            }
        }
        ++next;
    }
    return id;
}

}  // namespace quorix::core
