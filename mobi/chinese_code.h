// Character code conversion between UTF-8, UTF-16 and the GBK double-byte code.
#pragma once
