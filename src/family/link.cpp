#include "family/link.hpp"

#include <cassert>

namespace pelun {

std::string_view link_kind_name(LinkKind link) {
    switch (link) {
        case LinkKind::Identity: return "Identity";
        case LinkKind::Log: return "Log";
        case LinkKind::Logit: return "Logit";
    }
    return "Identity";
}

std::optional<LinkKind> link_kind_from_name(std::string_view name) {
    for (const LinkKind link : {LinkKind::Identity, LinkKind::Log, LinkKind::Logit})
        if (name == link_kind_name(link)) return link;
    return std::nullopt;
}

double inverse_link(LinkKind link, double eta) {
    switch (link) {
        case LinkKind::Identity: return IdentityLink::inverse(eta);
        case LinkKind::Log: return LogLink::inverse(eta);
        case LinkKind::Logit: return LogitLink::inverse(eta);
    }
    return eta;
}

namespace {

template <class Link>
void inverse_link_loop(std::span<const double> eta, std::span<double> mu) {
    for (std::size_t i = 0; i < eta.size(); ++i) mu[i] = Link::inverse(eta[i]);
}

}  // namespace

void inverse_link(LinkKind link, std::span<const double> eta, std::span<double> mu) {
    assert(mu.size() == eta.size());
    switch (link) {
        case LinkKind::Identity: inverse_link_loop<IdentityLink>(eta, mu); return;
        case LinkKind::Log: inverse_link_loop<LogLink>(eta, mu); return;
        case LinkKind::Logit: inverse_link_loop<LogitLink>(eta, mu); return;
    }
}

}  // namespace pelun
