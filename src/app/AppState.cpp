#include "AppState.h"

AppState& AppState::instance() {
    static AppState state;
    return state;
}
