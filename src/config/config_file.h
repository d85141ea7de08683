// The optional INI-style configuration file, section "java", that fills settings still unset.
#pragma once

bool ReadConfigFile();

