# Tarn_Mobi::Tarn_Mobi and the file-access layer it loads, Tarn_Mobi::Tarn_Tool.
include("${CMAKE_CURRENT_LIST_DIR}/Tarn_MobiTargets.cmake")
