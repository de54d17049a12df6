// messages.h: the console's text in the user's language. Every line the tool
// prints for a person goes through tr(): the Spanish text is both the message
// and its key, so with no catalog (or no translation) the tool says exactly
// what it always said.
#pragma once

namespace tunecast {

const char *tr(const char *spanish);

}  // namespace tunecast
