# cmake -DIN=FILE -DOUT=FILE.gz -P QrGzip.cmake: the same bytes for the same input, every time
# (-n: no file name or time stamp in the header).
find_program(QR_GZIP gzip REQUIRED)
execute_process(COMMAND "${QR_GZIP}" -9n -c "${IN}" OUTPUT_FILE "${OUT}.tmp" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${IN}: ${rc}")
endif()
file(RENAME "${OUT}.tmp" "${OUT}")
