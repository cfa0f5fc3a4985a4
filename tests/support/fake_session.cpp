#include "support/fake_session.h"
