// The encoders and decoders of the fixed vectors of size 2.
#include "serialization.h"

QW_FAMILY(qw::order::serialization_vectors + 0, &qw::serialization::add_vector_size<2>);
