# Writes the archives that real tar writers make of one small tree, for the stand-in's tests.
# Called with -DTREE=<scratch folder> -DOUT=<archive folder> [-DGNU_TAR=<GNU tar>].
file(REMOVE_RECURSE ${TREE} ${OUT})
file(MAKE_DIRECTORY ${OUT})

# Two 60-character folders push the deepest paths past the 100-byte name field while every
# single component still fits ustar's prefix split.
string(REPEAT "a" 60 first)
string(REPEAT "b" 60 second)
set(long_folder ${TREE}/pkg/${first}/${second})
file(WRITE ${TREE}/pkg/readme.txt "readme\n")
file(WRITE ${TREE}/pkg/nested/deeper/leaf.txt "leaf\n")
file(WRITE ${long_folder}/long-file.txt "long\n")
file(WRITE "${TREE}/pkg/café/ñandú.txt" "non-ascii\n")
file(MAKE_DIRECTORY ${TREE}/pkg/empty)

function(run_or_fail)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${TREE} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}")
    endif()
endfunction()

set(gnu_options --sort=name --owner=0 --group=0 --numeric-owner)
if(GNU_TAR)
    run_or_fail(${GNU_TAR} --format=ustar ${gnu_options} -cf ${OUT}/gnu-ustar.tar pkg)
endif()

# A hard link to the deep file: its target is a long link name, which plain ustar cannot hold.
file(CREATE_LINK ${long_folder}/long-file.txt ${TREE}/pkg/hard-link.txt)

foreach(format gnutar pax paxr)
    run_or_fail(${CMAKE_COMMAND} -E tar cf ${OUT}/libarchive-${format}.tar --format=${format} pkg)
endforeach()
if(GNU_TAR)
    run_or_fail(${GNU_TAR} --format=gnu ${gnu_options} -cf ${OUT}/gnu-gnu.tar pkg)
    # Named from ".", as many release scripts do, and with a global pax header up front.
    run_or_fail(${GNU_TAR} --format=pax ${gnu_options} --pax-option=comment=fixture
                -cf ${OUT}/gnu-pax.tar .)
endif()
