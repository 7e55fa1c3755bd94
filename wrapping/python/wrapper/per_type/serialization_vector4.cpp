// The encoders and decoders of the fixed vectors of size 4.
#include "serialization.h"

QW_FAMILY(&qw::serialization::add_vector_size<4>);
