#include "Engine.h"
#include "Service.h"

namespace nimbrel {

void SubmitToEngine(Request request) {
    if (Engine* engine = Engine::Instance()) engine->Submit(std::move(request));
}

}  // namespace nimbrel
