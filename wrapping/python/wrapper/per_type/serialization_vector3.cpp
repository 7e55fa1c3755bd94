// The encoders and decoders of the fixed vectors of size 3.
#include "serialization.h"

QW_FAMILY(&qw::serialization::add_vector_size<3>);
