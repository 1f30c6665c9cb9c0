#include "core/elements.hpp"

#include "core/error.hpp"

namespace quorix::core {

namespace {

// Allowed valences, ascending. A lone -1 is unrestricted; a trailing -1 also
// allows any value above the entry before it.
constexpr std::int8_t VAL_ANY[] = {-1};
constexpr std::int8_t VAL_0[] = {0};
constexpr std::int8_t VAL_0_2_4_6[] = {0, 2, 4, 6};
constexpr std::int8_t VAL_1[] = {1};
constexpr std::int8_t VAL_1_ANY[] = {1, -1};
constexpr std::int8_t VAL_1_3_5[] = {1, 3, 5};
constexpr std::int8_t VAL_2[] = {2};
constexpr std::int8_t VAL_2_ANY[] = {2, -1};
constexpr std::int8_t VAL_2_4[] = {2, 4};
constexpr std::int8_t VAL_2_4_6[] = {2, 4, 6};
constexpr std::int8_t VAL_3[] = {3};
constexpr std::int8_t VAL_3_5[] = {3, 5};
constexpr std::int8_t VAL_4[] = {4};

}  // namespace

// Columns: electronegativity, symbol, valences, atomic weight, monoisotopic mass,
// covalent radius, van der Waals radius, mass number, atomic number, period,
// valence electrons.
constexpr std::array<ElementInfo, NUM_ELEMENTS> ELEMENTS{{
    {std::nullopt, "*", VAL_ANY, 0.0, 0.0, 0.0f, 0.0f, 0, 0, 0, 0},
    {2.2, "H", VAL_1, 1.008, 1.007825032, 0.31f, 1.2f, 1, 1, 1, 1},
    {std::nullopt, "He", VAL_0, 4.003, 4.002603254, 0.28f, 1.4f, 4, 2, 1, 2},
    {0.98, "Li", VAL_1_ANY, 6.941, 7.01600455, 1.28f, 2.2f, 7, 3, 2, 1},
    {1.57, "Be", VAL_2, 9.012, 9.0121822, 0.96f, 1.9f, 9, 4, 2, 2},
    {2.04, "B", VAL_3, 10.812, 11.0093054, 0.84f, 1.8f, 11, 5, 2, 3},
    {2.55, "C", VAL_4, 12.011, 12.0, 0.76f, 1.7f, 12, 6, 2, 4},
    {3.04, "N", VAL_3, 14.007, 14.003074, 0.71f, 1.6f, 14, 7, 2, 5},
    {3.44, "O", VAL_2, 15.999, 15.99491462, 0.66f, 1.55f, 16, 8, 2, 6},
    {3.98, "F", VAL_1, 18.998, 18.99840322, 0.57f, 1.5f, 19, 9, 2, 7},
    {std::nullopt, "Ne", VAL_0, 20.18, 19.99244018, 0.58f, 1.54f, 20, 10, 2, 8},
    {0.93, "Na", VAL_1_ANY, 22.99, 22.98976928, 1.66f, 2.4f, 23, 11, 3, 1},
    {1.31, "Mg", VAL_2_ANY, 24.305, 23.9850417, 1.41f, 2.2f, 24, 12, 3, 2},
    {1.61, "Al", VAL_3, 26.982, 26.98153863, 1.21f, 2.1f, 27, 13, 3, 3},
    {1.9, "Si", VAL_4, 28.086, 27.97692653, 1.11f, 2.1f, 28, 14, 3, 4},
    {2.19, "P", VAL_3_5, 30.974, 30.97376163, 1.07f, 1.95f, 31, 15, 3, 5},
    {2.58, "S", VAL_2_4_6, 32.067, 31.972071, 1.05f, 1.8f, 32, 16, 3, 6},
    {3.16, "Cl", VAL_1, 35.453, 34.96885268, 1.02f, 1.8f, 35, 17, 3, 7},
    {std::nullopt, "Ar", VAL_0, 39.948, 39.96238312, 1.06f, 1.88f, 40, 18, 3, 8},
    {0.82, "K", VAL_1_ANY, 39.098, 38.96370668, 2.03f, 2.8f, 39, 19, 4, 1},
    {1.0, "Ca", VAL_2_ANY, 40.078, 39.96259098, 1.76f, 2.4f, 40, 20, 4, 2},
    {1.36, "Sc", VAL_ANY, 44.956, 44.9559119, 1.7f, 2.3f, 45, 21, 4, 3},
    {1.54, "Ti", VAL_ANY, 47.867, 47.9479463, 1.6f, 2.15f, 48, 22, 4, 4},
    {1.63, "V", VAL_ANY, 50.944, 50.9439595, 1.52f, 2.05f, 51, 23, 4, 5},
    {1.66, "Cr", VAL_ANY, 51.996, 51.9405075, 1.39f, 2.05f, 52, 24, 4, 6},
    {1.55, "Mn", VAL_ANY, 54.938, 54.9380451, 1.39f, 2.05f, 55, 25, 4, 7},
    {1.83, "Fe", VAL_ANY, 55.845, 55.9349375, 1.32f, 2.05f, 56, 26, 4, 8},
    {1.88, "Co", VAL_ANY, 58.933, 58.933195, 1.26f, 2.0f, 59, 27, 4, 9},
    {1.91, "Ni", VAL_ANY, 58.693, 57.9353429, 1.24f, 2.0f, 58, 28, 4, 10},
    {1.9, "Cu", VAL_ANY, 63.546, 62.9295975, 1.32f, 2.0f, 63, 29, 4, 11},
    {1.65, "Zn", VAL_ANY, 65.39, 63.9291422, 1.22f, 2.1f, 64, 30, 4, 2},
    {1.81, "Ga", VAL_3, 69.723, 68.9255736, 1.22f, 2.1f, 69, 31, 4, 3},
    {2.01, "Ge", VAL_4, 72.61, 73.9211778, 1.2f, 2.1f, 74, 32, 4, 4},
    {2.18, "As", VAL_3_5, 74.922, 74.9215965, 1.19f, 2.05f, 75, 33, 4, 5},
    {2.55, "Se", VAL_2_4_6, 78.96, 79.9165213, 1.2f, 1.9f, 80, 34, 4, 6},
    {2.96, "Br", VAL_1, 79.904, 78.9183371, 1.2f, 1.9f, 79, 35, 4, 7},
    {3.0, "Kr", VAL_0, 83.8, 83.911507, 1.16f, 2.02f, 84, 36, 4, 8},
    {0.82, "Rb", VAL_1_ANY, 85.468, 84.91178974, 2.2f, 2.9f, 85, 37, 5, 1},
    {0.95, "Sr", VAL_2_ANY, 87.62, 87.9056121, 1.95f, 2.55f, 88, 38, 5, 2},
    {1.22, "Y", VAL_ANY, 88.906, 88.9058483, 1.9f, 2.4f, 89, 39, 5, 3},
    {1.33, "Zr", VAL_ANY, 91.224, 89.9047044, 1.75f, 2.3f, 90, 40, 5, 4},
    {1.6, "Nb", VAL_ANY, 92.906, 92.9063781, 1.64f, 2.15f, 93, 41, 5, 5},
    {2.16, "Mo", VAL_ANY, 95.94, 97.9054082, 1.54f, 2.1f, 98, 42, 5, 6},
    {1.9, "Tc", VAL_ANY, 98.0, 96.906365, 1.47f, 2.05f, 97, 43, 5, 7},
    {2.2, "Ru", VAL_ANY, 101.07, 101.9043493, 1.46f, 2.05f, 102, 44, 5, 8},
    {2.28, "Rh", VAL_ANY, 102.906, 102.905504, 1.42f, 2.0f, 103, 45, 5, 9},
    {2.2, "Pd", VAL_ANY, 106.42, 105.903486, 1.39f, 2.05f, 106, 46, 5, 10},
    {1.93, "Ag", VAL_ANY, 107.868, 106.905097, 1.45f, 2.1f, 107, 47, 5, 11},
    {1.69, "Cd", VAL_ANY, 112.412, 113.9033585, 1.44f, 2.2f, 114, 48, 5, 2},
    {1.78, "In", VAL_3, 114.818, 114.903878, 1.42f, 2.2f, 115, 49, 5, 3},
    {1.96, "Sn", VAL_2_4, 118.711, 119.9021947, 1.39f, 2.25f, 120, 50, 5, 4},
    {2.05, "Sb", VAL_3_5, 121.76, 120.9038157, 1.39f, 2.2f, 121, 51, 5, 5},
    {2.1, "Te", VAL_2_4_6, 127.6, 129.9062244, 1.38f, 2.1f, 130, 52, 5, 6},
    {2.66, "I", VAL_1_3_5, 126.904, 126.904473, 1.39f, 2.1f, 127, 53, 5, 7},
    {2.6, "Xe", VAL_0_2_4_6, 131.29, 131.9041535, 1.4f, 2.16f, 132, 54, 5, 8},
    {0.79, "Cs", VAL_1, 132.905, 132.9054519, 2.44f, 3.0f, 133, 55, 6, 1},
    {0.89, "Ba", VAL_2_ANY, 137.328, 137.9052472, 2.15f, 2.7f, 138, 56, 6, 2},
    {1.1, "La", VAL_ANY, 138.906, 138.9063533, 2.07f, 2.5f, 139, 57, 6, 3},
    {1.12, "Ce", VAL_ANY, 140.116, 139.9054387, 2.04f, 2.48f, 140, 58, 6, 4},
    {1.13, "Pr", VAL_ANY, 140.908, 140.9076528, 2.03f, 2.47f, 141, 59, 6, 3},
    {1.14, "Nd", VAL_ANY, 144.24, 141.9077233, 2.01f, 2.45f, 142, 60, 6, 4},
    {std::nullopt, "Pm", VAL_ANY, 145.0, 144.912749, 1.99f, 2.43f, 145, 61, 6, 5},
    {1.17, "Sm", VAL_ANY, 150.36, 151.9197324, 1.98f, 2.42f, 152, 62, 6, 6},
    {std::nullopt, "Eu", VAL_ANY, 151.964, 152.9212303, 1.98f, 2.4f, 153, 63, 6, 7},
    {1.2, "Gd", VAL_ANY, 157.25, 157.9241039, 1.96f, 2.38f, 158, 64, 6, 8},
    {std::nullopt, "Tb", VAL_ANY, 158.925, 158.9253468, 1.94f, 2.37f, 159, 65, 6, 9},
    {1.22, "Dy", VAL_ANY, 162.5, 163.9291748, 1.92f, 2.35f, 164, 66, 6, 10},
    {1.23, "Ho", VAL_ANY, 164.93, 164.9303221, 1.92f, 2.33f, 165, 67, 6, 11},
    {1.24, "Er", VAL_ANY, 167.26, 165.9302931, 1.89f, 2.32f, 166, 68, 6, 12},
    {1.25, "Tm", VAL_ANY, 168.934, 168.9342133, 1.9f, 2.3f, 169, 69, 6, 13},
    {std::nullopt, "Yb", VAL_ANY, 173.04, 173.9388621, 1.87f, 2.28f, 174, 70, 6, 14},
    {1.27, "Lu", VAL_ANY, 174.967, 174.9407718, 1.87f, 2.27f, 175, 71, 6, 15},
    {1.3, "Hf", VAL_ANY, 178.49, 179.94655, 1.75f, 2.25f, 180, 72, 6, 4},
    {1.5, "Ta", VAL_ANY, 180.948, 180.9479958, 1.7f, 2.2f, 181, 73, 6, 5},
    {2.36, "W", VAL_ANY, 183.84, 183.9509312, 1.62f, 2.1f, 184, 74, 6, 6},
    {1.9, "Re", VAL_ANY, 186.207, 186.9557531, 1.51f, 2.05f, 187, 75, 6, 7},
    {2.2, "Os", VAL_ANY, 190.23, 191.9614807, 1.44f, 2.0f, 192, 76, 6, 8},
    {2.2, "Ir", VAL_ANY, 192.217, 192.9629264, 1.41f, 2.0f, 193, 77, 6, 9},
    {2.28, "Pt", VAL_ANY, 195.078, 194.9647911, 1.36f, 2.05f, 195, 78, 6, 10},
    {2.54, "Au", VAL_ANY, 196.967, 196.9665687, 1.36f, 2.1f, 197, 79, 6, 11},
    {2.0, "Hg", VAL_ANY, 200.59, 201.970643, 1.32f, 2.05f, 202, 80, 6, 2},
    {1.62, "Tl", VAL_ANY, 204.383, 204.9744275, 1.45f, 2.2f, 205, 81, 6, 3},
    {2.33, "Pb", VAL_2_4, 207.2, 207.9766521, 1.46f, 2.3f, 208, 82, 6, 4},
    {2.02, "Bi", VAL_3_5, 208.98, 208.9803987, 1.48f, 2.3f, 209, 83, 6, 5},
    {2.0, "Po", VAL_2_4_6, 209.0, 208.9824304, 1.4f, 2.0f, 209, 84, 6, 6},
    {2.2, "At", VAL_1_3_5, 210.0, 209.987148, 1.5f, 2.0f, 210, 85, 6, 7},
    {std::nullopt, "Rn", VAL_0, 222.0, 222.0175706, 1.5f, 2.0f, 222, 86, 6, 8},
    {std::nullopt, "Fr", VAL_1, 223.0, 223.0197359, 2.6f, 2.0f, 223, 87, 7, 1},
    {0.9, "Ra", VAL_2_ANY, 226.0, 226.0254026, 2.2f, 2.0f, 226, 88, 7, 2},
    {1.1, "Ac", VAL_ANY, 227.0, 227.0277521, 2.15f, 2.0f, 227, 89, 7, 3},
    {1.3, "Th", VAL_ANY, 232.038, 232.0380553, 2.06f, 2.4f, 232, 90, 7, 4},
    {1.5, "Pa", VAL_ANY, 231.036, 231.035884, 2.0f, 2.0f, 231, 91, 7, 3},
    {1.38, "U", VAL_ANY, 238.029, 238.0507882, 1.96f, 2.3f, 238, 92, 7, 4},
    {1.36, "Np", VAL_ANY, 237.0, 236.04657, 1.9f, 2.0f, 236, 93, 7, 5},
    {1.28, "Pu", VAL_ANY, 244.0, 238.0495599, 1.87f, 2.0f, 238, 94, 7, 6},
    {1.3, "Am", VAL_ANY, 243.0, 241.0568291, 1.8f, 2.0f, 241, 95, 7, 7},
    {1.3, "Cm", VAL_ANY, 247.0, 243.0613891, 1.69f, 2.0f, 243, 96, 7, 8},
    {1.3, "Bk", VAL_ANY, 247.0, 247.070307, 1.9f, 2.0f, 247, 97, 7, 9},
    {1.3, "Cf", VAL_ANY, 251.0, 249.0748535, 1.9f, 2.0f, 249, 98, 7, 10},
    {1.3, "Es", VAL_ANY, 252.0, 252.08298, 1.9f, 2.0f, 252, 99, 7, 11},
    {1.3, "Fm", VAL_ANY, 257.0, 257.095105, 1.9f, 2.0f, 257, 100, 7, 12},
    {1.3, "Md", VAL_ANY, 258.0, 258.098431, 1.9f, 2.0f, 258, 101, 7, 13},
    {1.39, "No", VAL_ANY, 259.0, 259.10103, 1.9f, 2.0f, 259, 102, 7, 14},
    {std::nullopt, "Lr", VAL_ANY, 262.0, 262.10963, 1.9f, 2.0f, 262, 103, 7, 15},
    {std::nullopt, "Rf", VAL_ANY, 267.0, 267.12153, 1.9f, 2.0f, 267, 104, 7, 2},
    {std::nullopt, "Db", VAL_ANY, 268.0, 268.12545, 1.9f, 2.0f, 268, 105, 7, 2},
    {std::nullopt, "Sg", VAL_ANY, 269.0, 271.13347, 1.9f, 2.0f, 271, 106, 7, 2},
    {std::nullopt, "Bh", VAL_ANY, 270.0, 270.13362, 1.9f, 2.0f, 270, 107, 7, 2},
    {std::nullopt, "Hs", VAL_ANY, 269.0, 269.13406, 1.9f, 2.0f, 269, 108, 7, 2},
    {std::nullopt, "Mt", VAL_ANY, 278.0, 278.15481, 1.9f, 2.0f, 278, 109, 7, 2},
    {std::nullopt, "Ds", VAL_ANY, 281.0, 281.16206, 1.9f, 2.0f, 281, 110, 7, 2},
    {std::nullopt, "Rg", VAL_ANY, 281.0, 281.16537, 1.9f, 2.0f, 281, 111, 7, 2},
    {std::nullopt, "Cn", VAL_ANY, 285.0, 285.17411, 1.9f, 2.0f, 285, 112, 7, 2},
    {std::nullopt, "Nh", VAL_ANY, 284.0, 284.17873, 1.36f, 2.0f, 284, 113, 7, 2},
    {std::nullopt, "Fl", VAL_ANY, 289.0, 289.19042, 1.43f, 2.0f, 289, 114, 7, 2},
    {std::nullopt, "Mc", VAL_ANY, 288.0, 288.19274, 1.62f, 2.0f, 288, 115, 7, 2},
    {std::nullopt, "Lv", VAL_ANY, 293.0, 293.20449, 1.75f, 2.0f, 293, 116, 7, 2},
    {std::nullopt, "Ts", VAL_ANY, 292.0, 292.20746, 1.65f, 2.0f, 292, 117, 7, 2},
    {std::nullopt, "Og", VAL_ANY, 294.0, 294.21392, 1.57f, 2.0f, 294, 118, 7, 2},
}};

namespace {

#include "core/isotope_table.inc"

static_assert(ISOTOPE_OFFSETS.size() == NUM_ELEMENTS + 1);
static_assert(ISOTOPE_OFFSETS.back() == ISOTOPE_ENTRIES.size());

constexpr bool records_are_consistent() {
    for (std::uint32_t z = 0; z < NUM_ELEMENTS; ++z) {
        const ElementInfo& e = ELEMENTS[z];
        if (e.atomic_num != z || e.valences.empty()) return false;
        // Each element's isotopes form one ascending run with no gaps.
        for (std::uint32_t i = ISOTOPE_OFFSETS[z] + 1; i < ISOTOPE_OFFSETS[z + 1]; ++i)
            if (ISOTOPE_ENTRIES[i].mass_number != ISOTOPE_ENTRIES[i - 1].mass_number + 1) return false;
        if (ISOTOPE_OFFSETS[z] > ISOTOPE_OFFSETS[z + 1]) return false;
    }
    return true;
}
static_assert(records_are_consistent());

}  // namespace

const ElementInfo* element(std::uint32_t atomic_num) {
    return atomic_num < NUM_ELEMENTS ? &ELEMENTS[atomic_num] : nullptr;
}

const ElementInfo& element_at(std::uint32_t atomic_num) {
    if (atomic_num >= NUM_ELEMENTS) internal_error("原子序数超出元素表");
    return ELEMENTS[atomic_num];
}

std::span<const IsotopeEntry> isotopes(std::uint32_t atomic_num) {
    if (atomic_num >= NUM_ELEMENTS) return {};
    return std::span<const IsotopeEntry>(ISOTOPE_ENTRIES)
        .subspan(ISOTOPE_OFFSETS[atomic_num], ISOTOPE_OFFSETS[atomic_num + 1] - ISOTOPE_OFFSETS[atomic_num]);
}

std::optional<double> isotope_mass(std::uint32_t atomic_num, std::uint32_t mass_number) {
    for (const IsotopeEntry& entry : isotopes(atomic_num))
        if (entry.mass_number == mass_number) return entry.exact_mass;
    return std::nullopt;
}

std::size_t total_isotope_entries() { return ISOTOPE_ENTRIES.size(); }

std::optional<std::uint8_t> Element::from_symbol(std::string_view symbol) {
    switch (symbol.size()) {
    case 1:
        switch (symbol[0]) {
        case '*': return 0;
        case 'B': return 5;
        case 'C': return 6;
        case 'F': return 9;
        case 'H': return 1;
        case 'I': return 53;
        case 'K': return 19;
        case 'N': return 7;
        case 'O': return 8;
        case 'P': return 15;
        case 'S': return 16;
        case 'U': return 92;
        case 'V': return 23;
        case 'W': return 74;
        case 'Y': return 39;
        default: return std::nullopt;
        }
    case 2:
        for (const ElementInfo& e : ELEMENTS)
            if (e.symbol == symbol) return e.atomic_num;
        return std::nullopt;
    case 3:
        // Provisional names that older files still carry.
        if (symbol == "Uut") return 113;
        if (symbol == "Uup") return 115;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

}  // namespace quorix::core
