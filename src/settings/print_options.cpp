#include "settings/print_options.hpp"

PrintOptions printoptions;

PrintTypeOption stPrintTypeOption;
KVROption stKVROption;
FeaturesOption stFeaturesOption;
