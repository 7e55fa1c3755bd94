// The encoders and decoders of the dynamic vectors.
#include "serialization.h"

QW_FAMILY(&qw::serialization::add_vector_size<0>);
