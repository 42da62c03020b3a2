-- Schema of Zeza.db (schema version 3) and its one settings row. mktemplate runs this file as it is;
-- the CREATE texts are stored in the database verbatim, so keep their spelling.
CREATE TABLE `fu_list` (`idl` INTEGER PRIMARY KEY,`codel` varchar(10),`name` varchar(50),`type` varchar(50),`look` bit DEFAULT 0,`estval` float DEFAULT 0);
CREATE TABLE `fu_count` (`idc` INTEGER PRIMARY KEY,`codec` varchar(10),`tcost` float DEFAULT 0,`tcount` float DEFAULT 0,`remark` text);
CREATE TABLE `fu_stk` (`codes` varchar(10),`valreal` float,`valtd` float,`valytd` float,`gdate` date);
CREATE TABLE `fu_iniLoc` (`dbVer` long,`updateTime` long,`stkTime` long,`estTime` long,`listTime` long,`pwd` varchar(20),`guid` varchar(50));
INSERT INTO fu_iniLoc (dbVer,updateTime,stkTime,estTime,listTime,pwd,guid) VALUES (3,0,0,0,1200417988,'','');
