#include "family/visit_family.hpp"

#include <cstdio>
#include <cstdlib>

namespace pelun {

void visit_family_without_traits(FamilyKind kind) {
    const std::string_view name = display_name(kind);
    std::fprintf(stderr, "pelun internal error: visit_family reached family %.*s, which has no traits\n",
                 static_cast<int>(name.size()), name.data());
    std::abort();
}

}  // namespace pelun
