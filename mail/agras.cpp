#include "mail/agras.h"

namespace kelvane {

void TagRas::SetService(const std::string& name) {
    if (name.empty()) {
        service_.clear();
        return;
    }
    if (prompts_) prompts_->Information(kRasUnavailableText);
}

void TagRas::Connect() {
    canceling_ = false;
    // Service is always empty here, so the link counts as up.
    connected_ = true;
}

void TagRas::HangUp() {
    canceling_ = true;
    connected_ = false;
}

}  // namespace kelvane
